#include "ui/qt/Application.h"

#include <QCoreApplication>
#include <QFile>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QTranslator>

#include "appdata/Language.h"

namespace {

// The first of the folders that holds the file, registered; false when none does.
bool AddFont(const QStringList& folders, const QString& file) {
  for (const QString& folder : folders)
    if (QFile::exists(folder + "/" + file) &&
        QFontDatabase::addApplicationFont(folder + "/" + file) >= 0)
      return true;
  return false;
}

}  // namespace

bool LoadWindowFonts() {
  const QString here = QCoreApplication::applicationDirPath();
  const QStringList beside = {here + "/../share/zv8810-fwu/fonts", here + "/fonts"};
  // Wine's bold file is left out: its strokes are regular, only its advances are bold.
  const bool regular = AddFont(beside + QStringList{"/usr/share/wine/fonts"}, "tahoma.ttf");
  AddFont(beside + QStringList{"/usr/share/fonts/truetype/dejavu"}, "DejaVuSansCondensed-Bold.ttf");
  return regular;
}

void InstallQtTranslations(QCoreApplication& app) {
  if (!IsRussian) return;
  auto* translator = new QTranslator(&app);
  if (translator->load("qtbase_ru", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(translator);
  else
    delete translator;
}

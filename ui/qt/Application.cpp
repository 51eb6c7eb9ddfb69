#include "ui/qt/Application.h"

#include <QCoreApplication>
#include <QFile>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QTranslator>

#include "appdata/Language.h"

bool LoadWindowFonts() {
  const QString here = QCoreApplication::applicationDirPath();
  const QStringList folders = {here + "/../share/zv8810-fwu/fonts", here + "/fonts",
                               "/usr/share/wine/fonts"};
  for (const QString& folder : folders) {
    if (!QFile::exists(folder + "/tahoma.ttf")) continue;
    const bool regular = QFontDatabase::addApplicationFont(folder + "/tahoma.ttf") >= 0;
    QFontDatabase::addApplicationFont(folder + "/tahomabd.ttf");
    if (regular) return true;
  }
  return false;
}

void InstallQtTranslations(QCoreApplication& app) {
  if (!IsRussian) return;
  auto* translator = new QTranslator(&app);
  if (translator->load("qtbase_ru", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(translator);
  else
    delete translator;
}

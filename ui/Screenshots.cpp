// zv8810-shots OUTDIR [SIM]: renders the main window (English and Russian, idle and after a
// programming run against zv8810-sim) and the About window to PNG files, without a screen.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>

#include <filesystem>
#include <fstream>

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "platform/Pty.h"
#include "ui/AboutFU.h"
#include "ui/MainFU.h"

namespace {

struct TSilentBoxes : TMessageSink {
  int shown = 0;
  TMessageAnswer Show(const TMessage&) override {
    ++shown;
    return TMessageAnswer::Ok;
  }
};

void Save(QWidget& widget, const QString& path) {
  widget.grab().save(path);
  std::printf("%s\n", path.toStdString().c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: zv8810-shots OUTDIR SYSTEM-FILE  (with zv8810-sim registered as COM7)\n");
    return 64;
  }
  QApplication app(argc, argv);
  const QString out = argv[1];
  const std::string file = argv[2];
  TSilentBoxes boxes;
  SetMessageSink(&boxes);
  for (int lang = 0; lang < 2; ++lang) {
    const std::string folder =
        std::filesystem::temp_directory_path() / ("zv8810-shots-" + std::to_string(lang)) / "";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "ZV8810_FWU.ini", std::ios::binary)
        << "ComPort=COM7\r\nComRate=115200\r\nProtocol=NMEA\r\nResetType=0\r\nLang=" << lang
        << "\r\n";
    TDM dm(folder, "ZV8810_FWU.ini");
    TMainF window(dm);
    CreateDataModule(dm);
    TAboutF about(dm, &window);
    window.show();
    window.BinFileEdit->setText(QString::fromStdString(file));
    QTest::qWait(200);
    const QString suffix = lang == 0 ? "en" : "ru";
    Save(window, out + "/main-idle-" + suffix + ".png");
    if (window.PortCombo->count() == 0) window.PortCombo->addItem("COM7");
    window.ProgButClick();
    QElapsedTimer timer;
    timer.start();
    const int before = boxes.shown;
    while (boxes.shown == before && timer.elapsed() < 60000) QTest::qWait(50);
    Save(window, out + "/main-after-run-" + suffix + ".png");
    about.show();
    QTest::qWait(100);
    Save(about, out + "/about-" + suffix + ".png");
    about.hide();
    window.RunControl().Close();
  }
  SetMessageSink(nullptr);
  return 0;
}

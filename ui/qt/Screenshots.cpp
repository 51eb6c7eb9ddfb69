// zv8810-shots OUTDIR SYSTEM-FILE: shows the windows on a real display (Xvfb with a window
// manager, scripts/screenshots.sh) against zv8810-sim registered as COM7, and saves what the
// operator sees to PNG files: the main window in English and Russian, idle, with each list open,
// after a programming run, the failure and diagnosis boxes, and the About window. It also checks
// what only a real display shows: the captions the window manager gets and the About window
// centred over the main window, frames included. Exits 1 when a check fails.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "ui/qt/AboutFU.h"
#include "ui/qt/Application.h"
#include "ui/qt/Controls.h"
#include "ui/qt/MainFU.h"
#include "ui/qt/QtMessageSink.h"

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what.c_str());
  ++failures;
}

// The screen around the given windows, frames included.
void Shoot(std::initializer_list<QWidget*> widgets, const QString& path) {
  QTest::qWait(250);
  QRect area;
  for (QWidget* w : widgets)
    if (w != nullptr && w->isVisible()) area = area.united(w->frameGeometry());
  area.adjust(-4, -4, 4, 4);
  QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                              area.height());
  shot.save(path);
  std::printf("%s\n", path.toStdString().c_str());
}

// The window manager knows a window by exactly this caption.
bool WindowNamed(const QString& caption) {
  const std::string command =
      "xdotool search --name '^" + caption.toStdString() + "$' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// Real boxes over the window; the box named next is saved, then closed with the given answer.
struct TShotBoxes : TMessageSink {
  QWidget* window = nullptr;
  QString nextShot;
  TMessageAnswer answer = TMessageAnswer::Yes;
  int shown = 0;
  std::vector<TMessage> messages;
  TMessageAnswer Show(const TMessage& message) override {
    ++shown;
    messages.push_back(message);
    QMessageBox box(window);
    PrepareMessageBox(box, message);
    box.show();
    QTest::qWait(300);
    if (!nextShot.isEmpty()) {
      Shoot({window, &box}, nextShot);
      if (!message.Caption.empty())
        Check(WindowNamed(QString::fromStdString(message.Caption)),
              "the box's caption is '" + message.Caption + "' alone");
      nextShot.clear();
    }
    box.close();
    return message.Buttons == TMessageButtons::YesNo ? answer : TMessageAnswer::Ok;
  }
};

bool WaitForBox(TShotBoxes& boxes, int before, int ms) {
  QElapsedTimer timer;
  timer.start();
  while (boxes.shown == before && timer.elapsed() < ms) QTest::qWait(50);
  return boxes.shown > before;
}

void ShootOpenList(TMainF& window, QComboBox* combo, const QString& path) {
  combo->setFocus(Qt::TabFocusReason);
  combo->showPopup();
  QTest::qWait(300);
  Shoot({&window, combo->view()->window()}, path);
  combo->hidePopup();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: zv8810-shots OUTDIR SYSTEM-FILE  (with zv8810-sim registered as COM7)\n");
    return 64;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("ZV8810_FWU");
  Check(LoadWindowFonts(), "the window's font is installed (fonts-wine)");
  QApplication::setFont(WindowFont());
  const QString out = argv[1];
  const std::string file = argv[2];
  TShotBoxes boxes;
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
    boxes.window = &window;
    CreateDataModule(dm);
    InstallQtTranslations(app);
    TAboutF about(dm, &window);
    window.SetAboutWindow(&about);
    window.show();
    window.BinFileEdit->setText(QString::fromStdString(file));
    Check(QTest::qWaitForWindowExposed(&window), "the main window is shown");
    QTest::qWait(300);
    const QString suffix = lang == 0 ? "en" : "ru";
    Check(WindowNamed("ZV-8810 Firmware Updater"), "the main window's caption");
    Shoot({&window}, out + "/main-idle-" + suffix + ".png");
    ShootOpenList(window, window.PortCombo, out + "/main-port-list-" + suffix + ".png");
    ShootOpenList(window, window.ResetCombo, out + "/main-reset-list-" + suffix + ".png");
    ShootOpenList(window, window.RateCombo, out + "/main-rate-list-" + suffix + ".png");
    window.ProgBut->setFocus();

    // A programming run.
    int before = boxes.shown;
    window.ProgButClick();
    boxes.nextShot = out + "/main-after-run-" + suffix + ".png";
    Check(WaitForBox(boxes, before, 60000), "the programming run ends");

    // The receiver is asked in the wrong protocol: no answer, then the diagnosis finds it.
    window.ProtCombo->setCurrentText("ZORP");
    before = boxes.shown;
    boxes.nextShot = out + "/main-not-answer-" + suffix + ".png";
    window.VerCheckButClick();
    Check(WaitForBox(boxes, before, 10000), "Receiver not answer!");
    before = boxes.shown;
    boxes.nextShot = out + "/main-diagnosis-" + suffix + ".png";
    boxes.answer = TMessageAnswer::Yes;
    Check(WaitForBox(boxes, before, 30000), "the diagnosis finds the receiver");
    Check(window.ProtCombo->currentText() == "NMEA", "the diagnosis's settings are taken");
    Shoot({&window}, out + "/main-after-diagnosis-" + suffix + ".png");

    // A port that does not exist.
    window.PortCombo->addItem("COM99");
    window.PortCombo->setCurrentText("COM99");
    before = boxes.shown;
    boxes.nextShot = out + "/main-port-missing-" + suffix + ".png";
    window.ProgButClick();
    Check(WaitForBox(boxes, before, 5000), "Could not open COM99!");

    // The About window, shown twice: centred over the main window both times.
    for (int showing = 0; showing < 2; ++showing) {
      about.show();
      Check(QTest::qWaitForWindowExposed(&about), "the About window is shown");
      QTest::qWait(300);
      const QPoint offset = about.frameGeometry().center() - window.frameGeometry().center();
      Check(offset.manhattanLength() <= 2,
            "About centred over the main window at showing " + std::to_string(showing + 1) +
                " (off by " + std::to_string(offset.x()) + ", " + std::to_string(offset.y()) + ")");
      Check(WindowNamed(lang == 0 ? "About" : "О программе"), "the About window's caption");
      if (showing == 0) Shoot({&about}, out + "/about-" + suffix + ".png");
      about.hide();
      QTest::qWait(200);
    }
    window.StopDiagnosis();
    window.RunControl().Close();
    window.hide();
  }
  SetMessageSink(nullptr);
  return failures == 0 ? 0 : 1;
}

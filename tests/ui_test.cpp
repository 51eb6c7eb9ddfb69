// The window against the simulated receiver, without a screen (QT_QPA_PLATFORM=offscreen):
// layout and captions, the start checks, whole runs through the buttons, the close guard,
// "Save As..." byte for byte, the About window and the languages.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "device/FlashContents.h"
#include "platform/VersionInfo.h"
#include "tests/TestSupport.h"
#include "ui/AboutFU.h"
#include "ui/MainFU.h"

namespace {

// Records every box and answers the close guard as told.
struct TBoxes : TMessageSink {
  std::vector<TMessage> shown;
  TMessageAnswer answer = TMessageAnswer::No;
  TMessageAnswer Show(const TMessage& message) override {
    shown.push_back(message);
    return message.Buttons == TMessageButtons::YesNo ? answer : TMessageAnswer::Ok;
  }
  std::string Last() const { return shown.empty() ? std::string() : shown.back().Text; }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string SampleFile(const std::string& path, std::uint32_t size) {
  sim::TFirmwareSpec spec;
  spec.Size = size;
  spec.Major = "3";
  spec.Minor = "08";
  spec.Date = "Dec 10 2026";
  std::vector<std::uint8_t> bytes = sim::MakeSystemFile(spec);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

}  // namespace

class UiTest : public QObject {
  Q_OBJECT

 private:
  std::string folder_;
  TBoxes boxes_;
  std::unique_ptr<TDM> dm_;
  std::unique_ptr<TMainF> window_;

  // A first start in an empty folder (or with the given settings file).
  void StartWindow(const std::string& settings = "") {
    window_.reset();
    folder_ = TempDir() + "/ui-" + std::to_string(std::rand()) + "/";
    std::filesystem::create_directories(folder_);
    if (!settings.empty()) std::ofstream(folder_ + "ZV8810_FWU.ini", std::ios::binary) << settings;
    IsRussian = false;
    dm_ = std::make_unique<TDM>(folder_, "ZV8810_FWU.ini");
    window_ = std::make_unique<TMainF>(*dm_);
    CreateDataModule(*dm_);
    window_->show();
    QCoreApplication::processEvents();
  }
  // Presets the inputs the operator would pick.
  void Choose(int port, const char* reset, const char* rate, const char* protocol,
              const std::string& file) {
    TMainF& w = *window_;
    w.PortCombo->clear();
    w.PortCombo->addItem(QString("COM%1").arg(port));
    w.ResetCombo->setCurrentText(reset);
    w.RateCombo->setCurrentText(rate);
    w.ProtCombo->setCurrentText(protocol);
    w.BinFileEdit->setText(QString::fromStdString(file));
  }
  bool WaitForBoxes(std::size_t count, int ms) {
    QElapsedTimer timer;
    timer.start();
    while (boxes_.shown.size() < count && timer.elapsed() < ms) QTest::qWait(20);
    return boxes_.shown.size() >= count;
  }
  std::string LogText() const {
    std::string text;
    for (auto& line : window_->LogLines()) text += line + "\n";
    return text;
  }

 private slots:
  void initTestCase() {
    setenv("XDG_DATA_HOME", TempDir().c_str(), 1);
    SetMessageSink(&boxes_);
  }
  void init() { boxes_.shown.clear(); }
  void cleanupTestCase() {
    window_.reset();
    SetMessageSink(nullptr);
    std::filesystem::remove_all(TempDir());
  }

  void firstStartLayoutAndState() {
    StartWindow();
    TMainF& w = *window_;
    QCOMPARE(ReadFile(folder_ + "ZV8810_FWU.ini"),
             std::string("ComRate=115200\r\nProtocol=NMEA\r\nResetType=1\r\nLang=0\r\n"));
    QCOMPARE(w.windowTitle(), QString("ZV-8810 Firmware Updater"));
    QCOMPARE(w.size(), QSize(516, 303));
    QCOMPARE(w.ProgBut->geometry(), QRect(12, 183, 197, 35));
    QCOMPARE(w.LogBox->geometry(), QRect(12, 232, 480, 52));
    QCOMPARE(w.LogoImage->geometry(), QRect(277, 13, 215, 90));
    QCOMPARE(w.PortCombo->count(), 0);
    QCOMPARE(w.ResetCombo->currentText(), QString("Manual"));
    QVERIFY(!w.RateCombo->isEnabled() && !w.RateLab->isEnabled());
    QVERIFY(!w.ProtCombo->isEnabled() && !w.ProtLab->isEnabled());
    QCOMPARE(w.RateCombo->currentText(), QString("115200"));
    QCOMPARE(w.ProtCombo->currentText(), QString("NMEA"));
    QCOMPARE(w.BinFileEdit->toolTip(), QString("No data"));
    QCOMPARE(w.ProgBut->text(), QString("Programming"));
    QVERIFY(!w.LogoImage->pixmap().isNull());
    w.ResetCombo->setCurrentIndex(0);
    QVERIFY(w.RateCombo->isEnabled() && w.ProtLab->isEnabled());
    w.ResetCombo->setCurrentIndex(1);
    w.EnableControls(true, true);
    QVERIFY(!w.RateCombo->isEnabled() && !w.ProtCombo->isEnabled());
  }

  void russianCaptionsAndMessages() {
    StartWindow("Lang=1\r\nResetType=0\r\nProtocol=ZORP\r\nComRate=9600\r\n");
    TMainF& w = *window_;
    QCOMPARE(w.PortLab->text(), QString("COM порт"));
    QCOMPARE(w.ResetCombo->itemText(0), QString("Программный"));
    QCOMPARE(w.ResetCombo->itemText(1), QString("Аппаратный"));
    QCOMPARE(w.ProgBut->text(), QString("Запрограммировать"));
    QCOMPARE(w.VerCheckBut->text(), QString("Запрос версий"));
    QCOMPARE(w.RateCombo->currentText(), QString("9600"));
    QCOMPARE(w.ProtCombo->currentText(), QString("ZORP"));
    QCOMPARE(w.BinFileEdit->toolTip(), QString("Нет данных"));
    w.ProgButClick();
    QCOMPARE(boxes_.Last(), std::string("Необходимо указать СОМ порт!"));
  }

  void startChecksInOrder() {
    StartWindow();
    TMainF& w = *window_;
    w.ProgButClick();
    QCOMPARE(boxes_.Last(), std::string("COM port value is empty!"));
    Choose(81, "Auto", "115200", "NMEA", "");
    w.VerCheckButClick();
    QCOMPARE(boxes_.Last(), std::string("Incorrect system file path!"));
    w.BinFileEdit->setText(QString::fromStdString(folder_ + "missing.bin"));
    w.ProgButClick();
    QCOMPARE(boxes_.shown.size(), std::size_t(4));
    QCOMPARE(boxes_.shown[2].Text, "File \"" + folder_ + "missing.bin\" not found!");
    QCOMPARE(boxes_.Last(), std::string("Error at system file reading!"));
    QVERIFY(w.LogLines().empty());
    const std::string file = SampleFile(folder_ + "fw.bin", 3000);
    w.BinFileEdit->setText(QString::fromStdString(file));
    QVERIFY(w.BinFileEdit->toolTip().startsWith("File: \"fw.bin\"\nDevice Id: ZV8810"));
    w.ProgButClick();  // COM81 does not exist
    QCOMPARE(boxes_.Last(), std::string("Could not open COM81!"));
    QVERIFY(w.ProgBut->isEnabled() && w.LogLines().empty());
  }

  void programmingRunsThroughTheWindow_data() {
    QTest::addColumn<QString>("reset");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("connecting");
    QTest::newRow("Auto NMEA") << "Auto"
                               << "NMEA"
                               << "  NMEA connecting - done\n";
    QTest::newRow("Auto ZORP") << "Auto"
                               << "ZORP"
                               << "  ZORP connecting - done\n";
    QTest::newRow("Manual") << "Manual"
                            << "NMEA"
                            << "";
  }
  void programmingRunsThroughTheWindow() {
    QFETCH(QString, reset);
    QFETCH(QString, protocol);
    QFETCH(QString, connecting);
    StartWindow();
    const std::string file = SampleFile(folder_ + "fw.bin", 30000);
    const std::string flash = folder_ + "flash.img";
    TSimProcess sim(82, {"--flash", flash, "--protocol", protocol.toLower().toStdString()});
    Choose(82, reset.toLatin1().data(), "115200", protocol.toLatin1().data(), file);
    window_->ProgButClick();
    QVERIFY(!window_->ProgBut->isEnabled());
    if (reset == "Manual") {
      QVERIFY(window_->JobRunning());
      QTest::qWait(1500);
      sim.Signal(SIGUSR1);  // the operator power-cycles the receiver
    }
    QVERIFY(WaitForBoxes(1, 30000));
    const std::string expected =
        "Execution is successfully completed\r\rFirmware version: 3.08 (10/12/26)\rBootloader "
        "version: 03.07 (07/09/09)";
    QCOMPARE(boxes_.Last(), expected);
    QCOMPARE(boxes_.shown.back().Icon, TMessageIcon::Information);
    std::regex log(
        "^Execution is started - ..:..:..\n" + connecting.toStdString() +
        "  Connecting - done\n  Initialization - done\n  Erasing flash - done\n"
        "  Programming - done\n  Inquiry of the bootloader version - done  "
        "\\.::03\\.07::07/09/09::\\.\n  Inquiry of the firmware version - done  "
        "\\.::3\\.08::10/12/26::\\.\n  System restarting - done\nExecution is finished - "
        "..:..:..\n$");
    QVERIFY2(std::regex_match(LogText(), log), LogText().c_str());
    QVERIFY(window_->ProgBut->isEnabled() && window_->PortCombo->isEnabled());
    QVERIFY(!window_->JobRunning());
    QCOMPARE(window_->LogBox->currentRow(), window_->LogBox->count() - 1);
    sim.Stop();
    std::string image = ReadFile(flash).substr(0x10000, 30008);
    std::string fileBytes = ReadFile(file);
    QCOMPARE(image.substr(8), fileBytes);

    // "Save As..." writes the header and the log, CR LF after every line.
    const std::string saved = window_->SavedLogText();
    std::string header =
        "Com port = COM82\r\nReset = " + std::string(reset == "Auto" ? "auto" : "manual") +
        "\r\nBaud rate = 115200\r\nProtocol = " + protocol.toStdString() +
        "\r\nFile = fw.bin\r\nFWU ver = 2.3.0.1\r\n" + std::string(33, '-') + "\r\n";
    QCOMPARE(saved.substr(0, header.size()), header);
    std::string lines;
    for (auto& line : window_->LogLines()) lines += line + "\r\n";
    QCOMPARE(saved.substr(header.size()), lines);
    QVERIFY(window_->SaveLogTo(QString::fromStdString(folder_ + "log.txt")));
    QCOMPARE(ReadFile(folder_ + "log.txt"), saved);
  }

  void silentReceiver() {
    StartWindow();
    TSimProcess sim(83, {"--fault", "silent"});
    Choose(83, "Auto", "115200", "NMEA", SampleFile(folder_ + "fw.bin", 2000));
    window_->VerCheckButClick();
    QVERIFY(WaitForBoxes(1, 10000));
    QCOMPARE(boxes_.Last(), std::string("Receiver not answer!"));
    QCOMPARE(window_->LogLines().size(), std::size_t(2));
    QCOMPARE(window_->LogLines()[1], std::string("  NMEA connecting - not answer"));
    QVERIFY(window_->ProgBut->isEnabled() && window_->PortCombo->isEnabled());
  }

  void closeGuardWhileProgrammingAndTheParkedThread() {
    StartWindow();
    TSimProcess sim(84, {});
    const std::string file = SampleFile(folder_ + "fw.bin", 60000);
    Choose(84, "Auto", "115200", "NMEA", file);
    window_->VerCheckButClick();
    QVERIFY(WaitForBoxes(1, 20000));
    QCOMPARE(
        boxes_.Last(),
        std::string("Firmware version: 3.05 (26/11/09)\r\rBootloader version: 03.07 (07/09/09)"));
    QVERIFY(window_->ProgBut->isEnabled() && !window_->PortCombo->isEnabled());  // parked
    const std::size_t before = window_->LogLines().size();
    window_->ProgButClick();  // the parked thread takes the command, in the same log
    QVERIFY(window_->JobRunning());
    boxes_.answer = TMessageAnswer::No;
    QVERIFY(!window_->close());  // "No": the job goes on
    QCOMPARE(boxes_.shown.back().Caption, std::string("Warning"));
    QCOMPARE(boxes_.shown.back().Text,
             std::string("Execution in process! If you stop execution,\rthe software of the "
                         "navigating receiver will be spoilt!\rStop execution?"));
    QCOMPARE(boxes_.shown.back().Default, TMessageAnswer::No);
    QVERIFY(WaitForBoxes(3, 30000));
    QVERIFY(boxes_.Last().rfind("Execution is successfully completed", 0) == 0);
    QCOMPARE(window_->LogLines()[before], std::string("  Erasing flash - done"));
    QVERIFY(window_->close());  // nothing runs: no question
    QCOMPARE(boxes_.shown.size(), std::size_t(3));
  }

  void aboutWindowAndLanguageChoice() {
    StartWindow();
    TAboutF about(*dm_, window_.get());
    about.show();
    QCoreApplication::processEvents();
    QCOMPARE(about.ProgNameLab->text(), QString("ZV-8810 Firmware Updater"));
    QCOMPARE(about.VersionInfoLab->text(), QString("2.3 (build 0.1)"));
    QCOMPARE(about.sBitBtn1->text(), QString("ОК"));
    const std::string before = ReadFile(folder_ + "ZV8810_FWU.ini");
    QCOMPARE(about.LangCombo->currentIndex(), 0);
    QCOMPARE(ReadFile(folder_ + "ZV8810_FWU.ini"), before);  // showing writes nothing
    about.LangCombo->setCurrentIndex(1);
    QVERIFY(ReadFile(folder_ + "ZV8810_FWU.ini").find("Lang=1\r\n") != std::string::npos);
    QVERIFY(!IsRussian);
    about.hide();
    about.show();
    QCoreApplication::processEvents();
    QCOMPARE(about.LangCombo->currentIndex(), 1);
    plat::TFileInfo info;
    QVERIFY(!plat::ReadFileInfo(folder_ + "ZV8810_FWU.ini", info));
    QVERIFY(info.Strings.InternalName.empty());
  }
};

QTEST_MAIN(UiTest)
#include "ui_test.moc"

// The window against the simulated receiver, without a screen (QT_QPA_PLATFORM=offscreen):
// layout and captions, the start checks, whole runs through the buttons, the close guard,
// "Save As..." byte for byte, the About window and the languages.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QToolTip>
#include <QtTest>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>

#include "appdata/DMU.h"
#include "appdata/MessageSink.h"
#include "device/FlashContents.h"
#include "history/HistoryStore.h"
#include "platform/SerialDevice.h"
#include "platform/VersionInfo.h"
#include "tests/TestSupport.h"
#include "ui/qt/AboutFU.h"
#include "ui/qt/Application.h"
#include "ui/qt/Controls.h"
#include "ui/qt/MainFU.h"
#include "ui/qt/QtMessageSink.h"

namespace {

// Records every box and answers the close guard as told; tells the window, as the program's own
// sink does, so that its job records keep the final message.
struct TBoxes : TMessageSink {
  std::vector<TMessage> shown;
  TMessageAnswer answer = TMessageAnswer::No;
  TMainF* window = nullptr;
  TMessageAnswer Show(const TMessage& message) override {
    shown.push_back(message);
    if (window != nullptr) window->MessageShown(message.Text);
    return message.Buttons == TMessageButtons::YesNo ? answer : TMessageAnswer::Ok;
  }
  std::string Last() const { return shown.empty() ? std::string() : shown.back().Text; }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The newest record of the window's history (its local file) once there are more than `before`
// records: the window writes them on a thread of its own.
std::optional<hist::TJobRecord> NewestRecord(std::size_t before) {
  for (int i = 0; i < 250; ++i) {
    std::string error;
    if (auto store = hist::OpenSqlite(hist::DefaultHistoryPath(), error)) {
      std::vector<hist::TJobRecord> records;
      if (store->Query({}, records, error) && records.size() > before) return records.front();
    }
    QTest::qWait(20);
  }
  return std::nullopt;
}

std::size_t RecordCount() {
  std::string error;
  std::vector<hist::TJobRecord> records;
  auto store = hist::OpenSqlite(hist::DefaultHistoryPath(), error);
  if (store) store->Query({}, records, error);
  return records.size();
}

// A system file with its description block (a file too small for one has none).
std::string SampleFile(const std::string& path, std::uint32_t size, const char* device = "ZV8810") {
  sim::TFirmwareSpec spec;
  spec.Size = size;
  spec.DeviceId = device;
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
    boxes_.window = window_.get();
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
  // A job stopped while it waits for the greeting ends within its countdown; the next test
  // must not meet its thread.
  void WaitForThreadEnd() {
    auto thread = window_->RunControl().LastThread();
    QTRY_VERIFY_WITH_TIMEOUT(!thread || thread->Finished(), 15000);
  }
  std::string LogText() const {
    std::string text;
    for (auto& line : window_->LogLines()) text += line + "\n";
    return text;
  }

 private slots:
  void initTestCase() {
    setenv("XDG_DATA_HOME", TempDir().c_str(), 1);
    QVERIFY2(LoadWindowFonts(), "the window's font (Debian's fonts-wine) is installed");
    QApplication::setFont(WindowFont());
    SetMessageSink(&boxes_);
  }
  void init() { boxes_.shown.clear(); }
  void cleanupTestCase() {
    boxes_.window = nullptr;
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
    QCOMPARE(w.AboutTitleButton->toolTip(), QString("About"));
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
    QCOMPARE(w.AboutTitleButton->toolTip(), QString("О программе"));
    w.ProgButClick();
    QCOMPARE(boxes_.Last(), std::string("Необходимо указать СОМ порт!"));
    TAboutF about(*dm_, &w);
    about.show();
    QCoreApplication::processEvents();
    QCOMPARE(about.windowTitle(), QString("О программе"));
    QCOMPARE(about.VerLab->text(), QString("Версия:"));
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
    QVERIFY(boxes_.Last().rfind("Could not open COM81!\r", 0) == 0);
    QVERIFY(w.ProgBut->isEnabled());
  }

  // The reason and what to do stand beside the fixed message, and in the log.
  void portFailuresSayWhyAndWhatToDo_data() {
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("russian");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << false << false
                             << "The port does not exist: check the cable and choose the port "
                                "from the list again.";
    QTest::newRow("in use") << true << false
                            << "The port is in use by another program: close that program and "
                               "try again.";
    QTest::newRow("in use, Russian")
        << true << true << "Порт занят другой программой: закройте ее и повторите.";
  }
  void portFailuresSayWhyAndWhatToDo() {
    QFETCH(bool, busy);
    QFETCH(bool, russian);
    QFETCH(QString, reason);
    StartWindow(russian ? "ResetType=0\r\nLang=1\r\n" : "");
    std::unique_ptr<TPtyPeer> peer;
    plat::TSerialDevice holder;  // another program holding the port
    if (busy) {
      peer = std::make_unique<TPtyPeer>(89);
      QVERIFY(holder.Open(peer->Path()));
    }
    Choose(89, russian ? "Программный" : "Auto", "115200", "NMEA",
           SampleFile(folder_ + "fw.bin", 2000));
    const std::size_t records = RecordCount();
    window_->ProgButClick();
    const std::string fixed = russian ? "Ошибка открытия COM89!" : "Could not open COM89!";
    QCOMPARE(boxes_.Last(), fixed + "\r" + reason.toStdString());
    QCOMPARE(window_->LogLines(), std::vector<std::string>{"COM89: " + reason.toStdString()});
    QVERIFY(window_->ProgBut->isEnabled() && window_->PortCombo->isEnabled());
    // A port that did not open is a job that ended at once: exit 7, the message's first line.
    const auto record = NewestRecord(records);
    QVERIFY(record.has_value());
    QCOMPARE(record->ExitStatus, std::int64_t{7});
    QCOMPARE(record->Message, fixed);
    QCOMPARE(record->Port, std::string("COM89"));
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
                            << "  Switch the receiver off and on now\n";
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
    const std::size_t records = RecordCount();
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

    // The job's record in the history.
    const auto record = NewestRecord(records);
    QVERIFY(record.has_value());
    QCOMPARE(RecordCount(), records + 1);
    QCOMPARE(record->Command, std::string("window program"));
    QCOMPARE(record->Port, std::string("COM82"));
    QCOMPARE(record->Protocol, protocol.toStdString());
    QCOMPARE(record->Reset, std::string(reset == "Auto" ? "auto" : "manual"));
    QCOMPARE(record->Rate, std::int64_t{115200});
    QVERIFY(record->Ok);
    QCOMPARE(record->ExitStatus, std::int64_t{0});
    QCOMPARE(record->ResultCode.value_or(-1), std::int64_t{1});
    QCOMPARE(record->Message, std::string("Execution is successfully completed"));
    QCOMPARE(record->FilePath, file);
    QCOMPARE(record->FileSize.value_or(-1), std::int64_t{30000});
    char sum[16];
    const std::string bytes = ReadFile(file);
    std::snprintf(sum, sizeof sum, "0x%08X",
                  ByteSum(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    QCOMPARE(record->FileSum, std::string(sum));
    QCOMPARE(record->FileVersion, std::string("3.08"));
    QCOMPARE(record->FirmwareAfter, std::string("3.08"));
    QCOMPARE(record->BootloaderVersion, std::string("03.07"));
    QCOMPARE(record->ReceiverNumber, std::string(protocol == "ZORP" ? "ZV8810-000417" : ""));
    QCOMPARE(record->Log, window_->LogLines());
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
    const std::size_t records = RecordCount();
    window_->VerCheckButClick();
    QVERIFY(WaitForBoxes(1, 10000));
    QCOMPARE(boxes_.Last(), std::string("Receiver not answer!"));
    // Recorded as the command line records it: no answer (6), with the job's two lines.
    const auto record = NewestRecord(records);
    QVERIFY(record.has_value());
    QCOMPARE(record->Command, std::string("window versions"));
    QCOMPARE(record->ExitStatus, std::int64_t{6});
    QVERIFY(!record->Ok && !record->ResultCode);
    QCOMPARE(record->Message, std::string("Receiver not answer!"));
    QCOMPARE(record->Log.size(), std::size_t(2));
    QCOMPARE(window_->LogLines()[1], std::string("  NMEA connecting - not answer"));
    QVERIFY(window_->ProgBut->isEnabled() && window_->PortCombo->isEnabled());
    // The diagnosis runs in the background; closing the window stops it at once.
    QVERIFY(window_->DiagnosisRunning());
    QTRY_COMPARE_WITH_TIMEOUT(window_->LogLines().size(), std::size_t(4), 2000);
    QCOMPARE(window_->LogLines()[2],
             std::string("Looking for the receiver's protocol and bit rate"));
    QCOMPARE(window_->LogLines()[3], std::string("  ZORP, 115200 bit/s - waiting..."));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(window_->close());
    QVERIFY(timer.elapsed() < 1500);
    QVERIFY(!window_->DiagnosisRunning());
    QTest::qWait(3500);
    QCOMPARE(window_->LogLines().size(), std::size_t(4));
    QCOMPARE(boxes_.shown.size(), std::size_t(1));
  }

  // The receiver speaks NMEA at 9600 while the window asks for ZORP at 115200: the diagnosis
  // finds it, offers the settings, and the next press works.
  void diagnosisFindsTheProtocolAndRate() {
    StartWindow();
    TSimProcess sim(88, {"--protocol", "nmea", "--baud", "9600"});
    Choose(88, "Auto", "115200", "ZORP", SampleFile(folder_ + "fw.bin", 2000));
    window_->VerCheckButClick();
    boxes_.answer = TMessageAnswer::Yes;
    QVERIFY(WaitForBoxes(2, 25000));
    boxes_.answer = TMessageAnswer::No;
    QCOMPARE(boxes_.shown[0].Text, std::string("Receiver not answer!"));
    QCOMPARE(boxes_.shown[1].Text,
             std::string("The receiver answers in NMEA at 9600 bit/s.\rTake these settings?"));
    QCOMPARE(boxes_.shown[1].Buttons, TMessageButtons::YesNo);
    const std::vector<std::string> tail(window_->LogLines().begin() + 2, window_->LogLines().end());
    QCOMPARE(tail, (std::vector<std::string>{
                       "Looking for the receiver's protocol and bit rate",
                       "  NMEA, 115200 bit/s - not answer", "  ZORP, 9600 bit/s - not answer",
                       "  NMEA, 9600 bit/s - answers", "Receiver answers: NMEA, 9600 bit/s"}));
    QCOMPARE(window_->ProtCombo->currentText(), QString("NMEA"));
    QCOMPARE(window_->RateCombo->currentText(), QString("9600"));
    QVERIFY(!window_->DiagnosisRunning());
    window_->VerCheckButClick();
    QVERIFY(WaitForBoxes(3, 20000));
    QVERIFY(boxes_.Last().rfind("Firmware version: ", 0) == 0);
    QVERIFY(window_->close());
  }

  // "Programming" judges the file before the port is touched: another device is refused, a file
  // without a description block is written only when the operator answers Yes.
  void theFileIsJudgedBeforeProgramming() {
    StartWindow();
    TMainF& w = *window_;
    TSimProcess sim(86, {});
    const std::size_t records = RecordCount();
    const std::string other = SampleFile(folder_ + "other.bin", 3000, "QX4400");
    Choose(86, "Auto", "115200", "NMEA", other);
    w.ProgButClick();
    QCOMPARE(boxes_.shown.size(), std::size_t(1));
    QCOMPARE(boxes_.Last(), "The file \"" + other +
                                "\" is for the device QX4400, not for ZV8810.\rNothing was sent: "
                                "choose this receiver's system file.");
    QCOMPARE(boxes_.shown[0].Buttons, TMessageButtons::Ok);
    QVERIFY(w.LogLines().empty());
    QVERIFY(!w.RunControl().LastThread() && !w.JobRunning());
    QVERIFY(w.ProgBut->isEnabled() && w.BinFileEdit->isEnabled());

    const std::string bare = SampleFile(folder_ + "bare.bin", 300);  // too small for a block
    w.BinFileEdit->setText(QString::fromStdString(bare));
    boxes_.answer = TMessageAnswer::No;
    w.ProgButClick();
    QCOMPARE(boxes_.shown.size(), std::size_t(2));
    QCOMPARE(boxes_.shown[1].Buttons, TMessageButtons::YesNo);
    QCOMPARE(boxes_.shown[1].Default, TMessageAnswer::No);
    QVERIFY(boxes_.Last().rfind("The file \"" + bare + "\" has no description block", 0) == 0);
    QVERIFY(w.LogLines().empty() && w.ProgBut->isEnabled());

    boxes_.answer = TMessageAnswer::Yes;
    w.ProgButClick();
    boxes_.answer = TMessageAnswer::No;
    QVERIFY(WaitForBoxes(4, 30000));
    QVERIFY(boxes_.Last().rfind("Execution is successfully completed", 0) == 0);
    const auto record = NewestRecord(records);
    QVERIFY(record.has_value());
    QVERIFY(record->Forced);
    QCOMPARE(record->FilePath, bare);
    QCOMPARE(RecordCount(), records + 1);  // the refused and declined starts left none
  }

  // A program killed mid-write leaves the receiver in its resident, which answers no protocol:
  // the diagnosis then finds the resident at 115200 bit/s and, on Yes, restarts it.
  void diagnosisRestartsAResidentLeftRunning() {
    StartWindow();
    TSimProcess sim(87, {"--timing"});
    const std::string file = SampleFile(folder_ + "fw.bin", 204800);
    const TRunResult killed =
        RunProgram(CliPath(), {"program", "--port", "COM87", "--file", file}, 7000);
    QVERIFY2(killed.Err.rfind("timed out\n", 0) == 0, killed.Out.c_str());
    Choose(87, "Auto", "115200", "NMEA", file);
    boxes_.answer = TMessageAnswer::Yes;
    window_->VerCheckButClick();
    QVERIFY(WaitForBoxes(2, 120000));
    boxes_.answer = TMessageAnswer::No;
    QCOMPARE(boxes_.shown[0].Text, std::string("Receiver not answer!"));
    QCOMPARE(boxes_.shown[1].Text,
             std::string("The receiver waits in its resident (a job was stopped).\rSend it the "
                         "restart command, so that it goes back to its firmware?"));
    QCOMPARE(boxes_.shown[1].Buttons, TMessageButtons::YesNo);
    QTRY_VERIFY_WITH_TIMEOUT(!window_->DiagnosisRunning(), 10000);
    const std::vector<std::string>& log = window_->LogLines();
    QVERIFY(log.size() > 6);
    QCOMPARE(std::vector<std::string>(log.end() - 5, log.end()),
             (std::vector<std::string>{
                 "  ZORP, 230400 bit/s - not answer", "  Resident, 115200 bit/s - answers",
                 "The receiver waits in its resident (a job was stopped)",
                 "  Resident, 115200 bit/s - restarted",
                 "The resident was sent its restart command: the receiver goes back to its "
                 "firmware"}));
    // The receiver runs its firmware again and answers the next inquiry.
    window_->VerCheckButClick();
    QVERIFY(WaitForBoxes(3, 30000));
    QCOMPARE(window_->LogLines()[1], std::string("  NMEA connecting - done"));
    QVERIFY(window_->close());
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

  // Enter presses "Programming" wherever the focus is; the button keeps its default look.
  void enterPressesProgrammingFromEveryControl_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("key");
    for (const char* name : {"ProgBut", "PortCombo", "ResetCombo", "RateCombo", "ProtCombo",
                             "BinFileEdit", "LogBox", "VerCheckBut"})
      QTest::newRow(name) << QString(name) << int(Qt::Key_Return);
    QTest::newRow("keypad Enter on the log") << QString("LogBox") << int(Qt::Key_Enter);
  }
  void enterPressesProgrammingFromEveryControl() {
    QFETCH(QString, control);
    QFETCH(int, key);
    StartWindow("ResetType=0\r\nLang=0\r\n");
    TMainF& w = *window_;
    w.LogBox->addItem("a line");
    QWidget* target = w.findChild<QWidget*>(control);
    QVERIFY(target != nullptr && target->isEnabled());
    target->setFocus();
    QSignalSpy programming(w.ProgBut, &QPushButton::clicked);
    QSignalSpy versions(w.VerCheckBut, &QPushButton::clicked);
    QTest::keyClick(target, Qt::Key(key));
    QCOMPARE(programming.count(), 1);
    QCOMPARE(versions.count(), 0);
    QCOMPARE(boxes_.Last(), std::string("COM port value is empty!"));
    QVERIFY(w.ProgBut->isDefault());
  }
  void spaceOnVersionsInfoPressesIt() {
    StartWindow();
    QSignalSpy programming(window_->ProgBut, &QPushButton::clicked);
    QSignalSpy versions(window_->VerCheckBut, &QPushButton::clicked);
    window_->VerCheckBut->setFocus();
    QTest::keyClick(window_->VerCheckBut, Qt::Key_Space);
    QCOMPARE(versions.count(), 1);
    QCOMPARE(programming.count(), 0);
  }

  // Message boxes: the caption as given, and every line of the text on one line of the box.
  void messageBoxesKeepCaptionsAndLines_data() {
    QTest::addColumn<bool>("russian");
    QTest::newRow("English") << false;
    QTest::newRow("Russian") << true;
  }
  void messageBoxesKeepCaptionsAndLines() {
    QFETCH(bool, russian);
    StartWindow(russian ? "ResetType=0\r\nLang=1\r\n" : "");
    TSimProcess sim(85, {});
    Choose(85, russian ? "Аппаратный" : "Manual", "115200", "NMEA",
           SampleFile(folder_ + "fw.bin", 2000));
    window_->ProgButClick();
    QVERIFY(window_->JobRunning());
    QVERIFY(!window_->close());  // the close guard asks, "No" is recorded
    const TMessage question = boxes_.shown.back();
    QCOMPARE(question.Caption, std::string(russian ? "Внимание" : "Warning"));
    QMessageBox box;
    PrepareMessageBox(box, question);
    box.show();
    QCoreApplication::processEvents();
    QCOMPARE(box.windowTitle(), QString::fromStdString(question.Caption));
    QLabel* label = box.findChild<QLabel*>("qt_msgbox_label");
    QVERIFY(label != nullptr);
    const QFontMetrics metrics(label->font());
    const QRect used = metrics.boundingRect(QRect(0, 0, label->contentsRect().width(), 10000),
                                            Qt::TextWordWrap, label->text());
    QCOMPARE(used.height() / metrics.lineSpacing(), 3);
    boxes_.answer = TMessageAnswer::Yes;
    QVERIFY(window_->close());
    boxes_.answer = TMessageAnswer::No;
    WaitForThreadEnd();
  }

  // A box is at least as wide as its caption with the title bar's icon and three buttons (about
  // 100 pixels), so that the window manager shows the caption whole.
  void messageBoxesAreAsWideAsTheirCaption_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("no answer") << "Receiver not answer!";
    QTest::newRow("connecting") << "Error at connecting";
    QTest::newRow("no port, Russian") << "Необходимо указать СОМ порт!";
    QTest::newRow("OK") << "OK";
  }
  void messageBoxesAreAsWideAsTheirCaption() {
    QFETCH(QString, text);
    TMessage message;
    message.Caption = ApplicationTitle;
    message.Text = text.toStdString();
    message.Icon = TMessageIcon::Error;
    QMessageBox box;
    PrepareMessageBox(box, message);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    const int caption =
        QFontMetrics(BoldWindowFont()).horizontalAdvance(QString::fromStdString(ApplicationTitle));
    QVERIFY2(box.width() >= caption + 100,
             qPrintable(QString("%1 < %2 + 100").arg(box.width()).arg(caption)));
    QLabel* label = box.findChild<QLabel*>("qt_msgbox_label");
    QVERIFY(label != nullptr && label->width() >= label->fontMetrics().horizontalAdvance(text));
  }

  // After "Yes" to the close question the window is gone at once, while the job's last steps
  // (the resident's restart command, the port's release) still run behind it.
  void closeHidesTheWindowAtOnceAfterYes() {
    StartWindow();
    TSimProcess sim(91, {});
    Choose(91, "Auto", "115200", "NMEA", SampleFile(folder_ + "fw.bin", 60000));
    window_->ProgButClick();
    QTRY_VERIFY_WITH_TIMEOUT(LogText().find("  Programming - ") != std::string::npos, 20000);
    auto thread = window_->RunControl().LastThread();
    QVERIFY(thread && !thread->Finished());
    bool closing = true, seen = false, visible = true, running = false;
    QTimer::singleShot(0, window_.get(), [&] {
      seen = closing;
      visible = window_->isVisible();
      running = !thread->Finished();
    });
    boxes_.answer = TMessageAnswer::Yes;
    QVERIFY(window_->close());
    closing = false;
    boxes_.answer = TMessageAnswer::No;
    QVERIFY2(seen && running, "the close waits for the job's last steps");
    QVERIFY(!visible);
    QVERIFY(thread->Finished());
  }

  // The log shows three rows whatever their length: no horizontal scroll bar covers one; a line
  // cut at the list's edge shows whole as its tooltip, a line that fits has none.
  void longLogLinesShowWholeAsTooltip() {
    StartWindow();
    TMainF& w = *window_;
    const std::string longLine =
        "The receiver answers at no protocol and bit rate: check the cable, the port and the "
        "receiver's power";
    w.AddLogLine("Execution is started - 10:00:00");
    w.AddLogLine(longLine);
    w.AddLogLine("  NMEA connecting - not answer");
    QCoreApplication::processEvents();
    QVERIFY(!w.LogBox->horizontalScrollBar()->isVisible());
    for (int row = 0; row < 3; ++row)
      QVERIFY(w.LogBox->viewport()->rect().contains(w.LogBox->visualItemRect(w.LogBox->item(row))));
    auto tooltipAt = [&](int row) {
      QToolTip::hideText();
      for (int i = 0; i < 200 && QToolTip::isVisible(); ++i) QTest::qWait(10);
      const QPoint at = w.LogBox->visualItemRect(w.LogBox->item(row)).center();
      QHelpEvent help(QEvent::ToolTip, at, w.LogBox->viewport()->mapToGlobal(at));
      QCoreApplication::sendEvent(w.LogBox->viewport(), &help);
      return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QCOMPARE(tooltipAt(1), QString::fromStdString(longLine));
    QCOMPARE(tooltipAt(0), QString());
    QCOMPARE(tooltipAt(2), QString());
    w.ReplaceLastLogLine("COM7: " + longLine);  // a line that grows past the edge
    QCOMPARE(tooltipAt(2), QString::fromStdString("COM7: " + longLine));
  }

  // The controls whose style shows no focus draw their own mark: the About button (reached with
  // Tab only) and the log list, empty too.
  void focusIsVisible_data() {
    QTest::addColumn<QString>("control");
    QTest::newRow("About button") << "AboutTitleButton";
    QTest::newRow("empty log") << "LogBox";
  }
  void focusIsVisible() {
    QFETCH(QString, control);
    StartWindow("ResetType=0\r\nLang=0\r\n");
    TMainF& w = *window_;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QWidget* target = w.findChild<QWidget*>(control);
    QVERIFY(target != nullptr);
    w.ProgBut->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    const QImage without = target->grab().toImage();
    target->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    QVERIFY(target->hasFocus());
    QVERIFY2(target->grab().toImage() != without, "the focus changes nothing on the screen");
  }

  // Bold captions are drawn bold: the bold face's strokes cover clearly more of the caption's
  // area than the regular face's, not only its advances are wider.
  void boldCaptionsAreBold() {
    auto ink = [](const QFont& font) {
      QImage image(200, 20, QImage::Format_Grayscale8);
      image.fill(Qt::white);
      QPainter painter(&image);
      painter.setFont(font);
      painter.setPen(Qt::black);
      painter.drawText(2, 15, "Programming");
      painter.end();
      long dark = 0;
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) dark += 255 - qGray(image.pixel(x, y));
      return dark;
    };
    StartWindow();
    const long regular = ink(window_->font()), bold = ink(window_->ProgBut->font());
    QVERIFY2(bold * 10 > regular * 13, qPrintable(QString("%1 vs %2").arg(bold).arg(regular)));
  }

  // The port box chosen with the mouse: its list opens, a click picks an entry (the one shown
  // as well), and the box keeps it; each entry names the device behind it.
  void portBoxWithTheMouse() {
    TPtyPeer com86(86), com87(87);
    StartWindow("ComPort=COM86\r\nResetType=0\r\nLang=0\r\n");
    TMainF& w = *window_;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.ProgBut->setFocus();
    auto pick = [&](const QString& name) {
      QTest::mouseClick(w.PortCombo, Qt::LeftButton);  // entered with a click: the list is read
      QAbstractItemView* view = w.PortCombo->view();
      QTRY_VERIFY(view->isVisible());
      QTest::qWait(QApplication::doubleClickInterval() + 50);  // a click, not the opening press
      const int row = w.PortCombo->findText(name);
      QVERIFY(row >= 0);
      const QRect cell = view->visualRect(view->model()->index(row, 0));
      QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
      QTRY_VERIFY(!view->isVisible());
      QCoreApplication::processEvents();
    };
    pick("COM87");
    QCOMPARE(w.PortCombo->currentText(), QString("COM87"));
    pick("COM87");  // the entry already shown
    QCOMPARE(w.PortCombo->currentText(), QString("COM87"));
    const int row = w.PortCombo->findText("COM86");
    QVERIFY(w.PortCombo->itemData(row, Qt::ToolTipRole)
                .toString()
                .contains(QString::fromStdString(com86.Path())));
    // Entering the box again from another control keeps the operator's choice.
    w.ProgBut->setFocus();
    w.PortCombo->setFocus(Qt::TabFocusReason);
    QCOMPARE(w.PortCombo->currentText(), QString("COM87"));
    w.ProgButClick();
    QVERIFY(boxes_.Last() != "COM port value is empty!");
  }

  // Tab reaches every control: the focus order first, then "..." and the About button.
  void tabReachesEveryControl() {
    StartWindow("ResetType=0\r\nLang=0\r\n");
    TMainF& w = *window_;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.ProgBut->setFocus();
    QStringList order;
    for (int i = 0; i < 11; ++i) {
      order << QApplication::focusWidget()->objectName();
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(order, QStringList({"ProgBut", "PortCombo", "RateCombo", "ProtCombo", "BinFileEdit",
                                 "LogBox", "ResetCombo", "VerCheckBut", "BinFileBrowse",
                                 "AboutTitleButton", "ProgBut"}));
  }

  // No caption and no entry of a list is cut, in either language, with the window's font.
  void textsFitTheirControls_data() {
    QTest::addColumn<bool>("russian");
    QTest::newRow("English") << false;
    QTest::newRow("Russian") << true;
  }
  void textsFitTheirControls() {
    QFETCH(bool, russian);
    StartWindow(russian ? "ResetType=0\r\nLang=1\r\n" : "");
    TMainF& w = *window_;
    QCOMPARE(QFontInfo(w.font()).family(), QString("Tahoma"));
    QCOMPARE(w.font().pixelSize(), 13);
    for (QLabel* label : w.findChildren<QLabel*>()) {
      if (label->text().isEmpty() || !label->pixmap().isNull()) continue;
      const int needed = label->fontMetrics().horizontalAdvance(label->text());
      QVERIFY2(needed <= label->contentsRect().width(),
               qPrintable(label->objectName() + ": " + label->text()));
    }
    for (QComboBox* combo : w.findChildren<QComboBox*>()) {
      QStyleOptionComboBox option;
      option.initFrom(combo);
      const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                         QStyle::SC_ComboBoxEditField, combo);
      for (int i = 0; i < combo->count(); ++i)
        QVERIFY2(
            combo->fontMetrics().horizontalAdvance(combo->itemText(i)) <= field.width(),
            qPrintable(combo->objectName() + ": " + combo->itemText(i) + " " +
                       QString::number(combo->fontMetrics().horizontalAdvance(combo->itemText(i))) +
                       " > " + QString::number(field.width())));
    }
    for (QPushButton* button : {w.ProgBut, w.VerCheckBut})
      QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) + 8 <= button->width());
  }

  // "Save As..." proposes a dated name in the documents folder, adds ".txt" to a bare name and
  // saves during a job too.
  void saveAsNamesAndTimes() {
    const QString proposed =
        TMainF::ProposedLogPath(QDateTime(QDate(2026, 12, 10), QTime(14, 36, 5)));
    QVERIFY2(proposed.endsWith("/log-2026-12-10_14-36-05.txt"), qPrintable(proposed));
    struct {
      const char* typed;
      const char* saved;
    } names[] = {{"/tmp/run", "/tmp/run.txt"},
                 {"/tmp/run.txt", "/tmp/run.txt"},
                 {"/tmp/run.log", "/tmp/run.log"},
                 {"/tmp/v1.2/run", "/tmp/v1.2/run.txt"}};
    for (auto& n : names) QCOMPARE(TMainF::WithLogExtension(n.typed), QString(n.saved));
    StartWindow();
    TSimProcess sim(90, {});
    Choose(90, "Manual", "115200", "NMEA", SampleFile(folder_ + "fw.bin", 2000));
    window_->ProgButClick();
    QVERIFY(window_->JobRunning());
    const std::string during = window_->SavedLogText();
    QVERIFY2(during.find("\r\nExecution is started - ") != std::string::npos, during.c_str());
    boxes_.answer = TMessageAnswer::Yes;
    QVERIFY(window_->close());
    boxes_.answer = TMessageAnswer::No;
    WaitForThreadEnd();
  }

  void aboutWindowAndLanguageChoice() {
    StartWindow();
    TAboutF about(*dm_, window_.get());
    about.show();
    QCoreApplication::processEvents();
    QCOMPARE(about.ProgNameLab->text(), QString("ZV-8810 Firmware Updater"));
    QCOMPARE(about.VersionInfoLab->text(), QString("2.3 (build 0.1)"));
    QCOMPARE(about.sBitBtn1->text(), QString("ОК"));
    QCOMPARE(about.windowTitle(), QString("About"));
    // The address is underlined only while the pointer is over it.
    auto underlined = [&] { return about.sWebLabel1->text().contains("underline"); };
    QVERIFY(!underlined());
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QCoreApplication::sendEvent(about.sWebLabel1, &enter);
    QVERIFY(underlined());
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(about.sWebLabel1, &leave);
    QVERIFY(!underlined());
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

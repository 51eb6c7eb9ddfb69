#include "ui/MainFU.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QThread>
#include <QToolButton>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "appdata/Cp1251.h"
#include "appdata/MessageSink.h"
#include "platform/ComRegistry.h"
#include "platform/ExecutablePath.h"
#include "platform/Resources.h"
#include "platform/VersionInfo.h"
#include "receiver/ProtocolScan.h"
#include "transport/PortList.h"
#include "ui/AboutFU.h"
#include "ui/Controls.h"

namespace {

// A call posted to the window: the receiver session's two window messages.
class TPostedCall : public QEvent {
 public:
  TPostedCall(int message, std::function<void()> fn)
      : QEvent(static_cast<QEvent::Type>(message)), Fn(std::move(fn)) {}
  std::function<void()> Fn;
};

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// The tooltip shows the description's CR LF lines as lines.
QString TooltipText(const std::string& text) {
  QString tip = Q(text);
  tip.replace("\r\n", "\n");
  return tip;
}

}  // namespace

TMainF::TMainF(TDM& dm, QWidget* parent) : QWidget(parent), dm_(dm) {
  setObjectName("MainF");
  setWindowTitle("ZV-8810 Firmware Updater");
  setFixedSize(516, 303);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFont(WindowFont());

  QFrame* panel = Place<QFrame>(this, "sPanel1", 5, 6, 505, 292);
  panel->setFrameShape(QFrame::StyledPanel);

  LogoImage = Place<QLabel>(panel, "LogoImage", 277, 13, 215, 90);
  LogoImage->setScaledContents(false);
  LogoImage->setAlignment(Qt::AlignCenter);
  LogoBevel = Place<QFrame>(panel, "LogoBevel", 276, 13, 217, 91);
  LogoBevel->setFrameShape(QFrame::Box);
  LogoBevel->lower();

  PortLab = Place<QLabel>(panel, "PortLab", 12, 16, 90, 16);
  PortLab->setText("COM port");
  PortCombo = Place<QComboBox>(panel, "PortCombo", 104, 13, 105, 24);
  PortCombo->installEventFilter(this);
  WaitPortPanel = Place<QLabel>(panel, "WaitPortPanel", 104, 13, 105, 24);
  WaitPortPanel->setText("Wait please");
  WaitPortPanel->setAlignment(Qt::AlignCenter);
  WaitPortPanel->setFrameShape(QFrame::Panel);
  WaitPortPanel->setAutoFillBackground(true);
  WaitPortPanel->hide();

  ResetLab = Place<QLabel>(panel, "ResetLab", 12, 49, 90, 16);
  ResetLab->setText("Reset");
  ResetCombo = Place<QComboBox>(panel, "ResetCombo", 104, 46, 105, 24);
  ResetCombo->addItems({"Auto", "Manual"});
  ResetCombo->setCurrentIndex(-1);
  connect(ResetCombo, &QComboBox::currentIndexChanged, this, &TMainF::ResetComboChange);

  RateLab = Place<QLabel>(panel, "RateLab", 12, 82, 90, 16);
  RateLab->setText("Baud Rate");
  RateCombo = Place<QComboBox>(panel, "RateCombo", 104, 79, 105, 24);
  RateCombo->addItems({"4800", "9600", "19200", "38400", "57600", "115200", "230400"});
  RateCombo->setCurrentIndex(5);

  ProtLab = Place<QLabel>(panel, "ProtLab", 12, 114, 90, 16);
  ProtLab->setText("Protocol");
  ProtCombo = Place<QComboBox>(panel, "ProtCombo", 104, 111, 105, 24);
  ProtCombo->addItems({"ZORP", "NMEA"});
  ProtCombo->setCurrentIndex(0);

  SysFileLab = Place<QLabel>(panel, "SysFileLab", 12, 147, 90, 16);
  SysFileLab->setText("System file");
  BinFileEdit = Place<QLineEdit>(panel, "BinFileEdit", 104, 144, 363, 24);
  BinFileEdit->setMaxLength(255);
  connect(BinFileEdit, &QLineEdit::textChanged, this, &TMainF::BinFileEditChange);
  BinFileBrowse = Place<QToolButton>(panel, "BinFileBrowse", 467, 144, 24, 24);
  BinFileBrowse->setText("...");
  BinFileBrowse->setFocusPolicy(Qt::TabFocus);
  connect(BinFileBrowse, &QToolButton::clicked, this, &TMainF::BrowseSystemFile);

  QFont bold = font();
  bold.setBold(true);
  ProgBut = Place<QPushButton>(panel, "ProgBut", 12, 183, 197, 35);
  ProgBut->setText("Programming");
  ProgBut->setFont(bold);
  // The window's default button: Enter presses it from every control (keyPressEvent). It is
  // not an auto-default button, which would give up the default look when the focus leaves.
  ProgBut->setAutoDefault(false);
  ProgBut->setDefault(true);
  connect(ProgBut, &QPushButton::clicked, this, &TMainF::ProgButClick);
  VerCheckBut = Place<QPushButton>(panel, "VerCheckBut", 352, 183, 140, 35);
  VerCheckBut->setText("Versions Info");
  VerCheckBut->setFont(bold);
  connect(VerCheckBut, &QPushButton::clicked, this, &TMainF::VerCheckButClick);

  LogBox = Place<QListWidget>(panel, "LogBox", 12, 232, 480, 52);
  LogBox->setSelectionMode(QAbstractItemView::SingleSelection);
  LogBox->setUniformItemSizes(true);
  LogBox->setStyleSheet("QListWidget::item { height: 16px; }");
  LogBox->setContextMenuPolicy(Qt::CustomContextMenu);
  LogPopup = new QMenu(this);
  LogPopup->setObjectName("LogPopup");
  QAction* saveAs = LogPopup->addAction("Save As...");
  saveAs->setObjectName("SaveAsBut");
  connect(saveAs, &QAction::triggered, this, &TMainF::SaveAsButClick);
  connect(LogBox, &QListWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { LogPopup->popup(LogBox->viewport()->mapToGlobal(at)); });

  // The title bar belongs to the window manager here: the About button sits at the top right.
  AboutTitleButton = Place<QToolButton>(this, "AboutTitleButton", 516 - 20, 0, 18, 18);
  if (const plat::TResourceEntry* icon = plat::FindResource("BITMAP", "AboutIcon")) {
    QPixmap pixmap;
    pixmap.loadFromData(icon->Data, static_cast<uint>(icon->Size));
    AboutTitleButton->setIcon(QIcon(pixmap));
  }
  AboutTitleButton->setIconSize(QSize(16, 16));
  AboutTitleButton->setAutoRaise(true);
  AboutTitleButton->setFocusPolicy(Qt::TabFocus);
  AboutTitleButton->setToolTip("About");
  connect(AboutTitleButton, &QToolButton::pressed, this, &TMainF::AboutTitleButtonMouseDown);

  QWidget::setTabOrder(ProgBut, PortCombo);
  QWidget::setTabOrder(PortCombo, RateCombo);
  QWidget::setTabOrder(RateCombo, ProtCombo);
  QWidget::setTabOrder(ProtCombo, BinFileEdit);
  QWidget::setTabOrder(BinFileEdit, LogBox);
  QWidget::setTabOrder(LogBox, ResetCombo);
  QWidget::setTabOrder(ResetCombo, VerCheckBut);
  QWidget::setTabOrder(VerCheckBut, BinFileBrowse);
  QWidget::setTabOrder(BinFileBrowse, AboutTitleButton);

  // The 105-pixel boxes hold "Программный" whole: a slimmer drop-down button and text margin.
  for (QComboBox* combo : {PortCombo, ResetCombo, RateCombo, ProtCombo})
    combo->setStyleSheet("QComboBox { padding-left: 3px; } QComboBox::drop-down { width: 15px; }");

  control_ = std::make_shared<::TRunControl>(dm_, *this);
  control_->OpenFailureReason = [this](int error) { return PortFailureReason(error); };
  // Every job that reached a port leaves its record in the history (once; after "Receiver not
  // answer!" before the diagnosis adds its lines to the log).
  const auto ended = [this] {
    history_.End(control_->Job().get(), control_->LastThread() != nullptr, false, log_.Lines());
  };
  control_->OnNoAnswer = [this, ended] {
    ended();
    StartDiagnosis();
  };
  control_->OnFinished = ended;
  control_->OnVersions = ended;
}

TMainF::~TMainF() {
  StopDiagnosis();
  control_->Close();
}

void TMainF::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TMainF::FormShow() {
  ApplyLanguage();
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  PortCombo->clear();
  if (ProbeSerialPort(Sets.ComPort)) {
    PortCombo->addItem(Q(Sets.ComPort));
    PortCombo->setCurrentIndex(0);
  }
  RateCombo->setCurrentIndex(
      RateCombo->findText(Q(Sets.ComRate), Qt::MatchExactly | Qt::MatchCaseSensitive));
  ProtCombo->setCurrentIndex(
      ProtCombo->findText(Q(Sets.Protocol), Qt::MatchExactly | Qt::MatchCaseSensitive));
  ResetCombo->setCurrentIndex(Sets.ResetType == 0 || Sets.ResetType == 1 ? Sets.ResetType : -1);
  ResetComboChange();
  BinFileEdit->setToolTip(Tr("Нет данных", "No data"));
  if (!Sets.SystemFile.empty()) {
    browseFolder_ = QFileInfo(Q(Sets.SystemFile)).absolutePath();
    BinFileEdit->setText(Q(Sets.SystemFile));
  } else {
    browseFolder_ = Q(ExePath);
  }
  ProgBut->setFocus();
}

void TMainF::ApplyLanguage() {
  const char* logo = IsRussian ? "LogoRus" : "LogoEng";
  if (const plat::TResourceEntry* bitmap = plat::FindResource("BITMAP", logo)) {
    QPixmap pixmap;
    pixmap.loadFromData(bitmap->Data, static_cast<uint>(bitmap->Size));
    LogoImage->setPixmap(pixmap);
  }
  if (!IsRussian) return;
  PortLab->setText("COM порт");
  ResetLab->setText("Перезапуск");
  ResetCombo->setItemText(0, "Программный");
  ResetCombo->setItemText(1, "Аппаратный");
  RateLab->setText("Скорость");
  ProtLab->setText("Протокол");
  SysFileLab->setText("Файл системы");
  ProgBut->setText("Запрограммировать");
  VerCheckBut->setText("Запрос версий");
}

void TMainF::EnableControls(bool inputs, bool buttons) {
  PortCombo->setEnabled(inputs);
  BinFileEdit->setEnabled(inputs);
  BinFileBrowse->setEnabled(inputs);
  ResetCombo->setEnabled(inputs);
  ProgBut->setEnabled(buttons);
  VerCheckBut->setEnabled(buttons);
  const bool automatic = ResetCombo->currentIndex() == 0;
  RateCombo->setEnabled(inputs && automatic);
  ProtCombo->setEnabled(inputs && automatic);
}

void TMainF::ResetComboChange() {
  const bool automatic = ResetCombo->currentIndex() == 0;
  RateCombo->setEnabled(automatic);
  RateLab->setEnabled(automatic);
  ProtCombo->setEnabled(automatic);
  ProtLab->setEnabled(automatic);
}

void TMainF::BinFileEditChange() {
  BinFileEdit->setToolTip(TooltipText(dm_.GetFileDescription(BinFileEdit->text().toStdString())));
}

void TMainF::BrowseSystemFile() {
  QString path = QFileDialog::getOpenFileName(this, QString(), browseFolder_, "*.bin (*.bin)");
  if (path.isEmpty()) return;
  browseFolder_ = QFileInfo(path).absolutePath();
  BinFileEdit->setText(path);
}

// The controls leave Enter to their window (the focused "Versions Info" takes Space only).
void TMainF::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (enter && modifiers == Qt::NoModifier) {
    if (ProgBut->isEnabled()) ProgBut->click();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

// PortComboEnter: the box is entered from another control (Tab, a click), or the window comes
// back with the focus in it. The focus coming back from the box's own list is no entering.
bool TMainF::eventFilter(QObject* watched, QEvent* event) {
  if (watched == PortCombo && event->type() == QEvent::FocusIn &&
      static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
    FillPortList();
  return QWidget::eventFilter(watched, event);
}

// The ports of the machine, each with the device behind it as its tooltip. The port already
// shown stays chosen when it is still there; otherwise the saved one is chosen.
void TMainF::FillPortList() {
  WaitPortPanel->show();
  WaitPortPanel->raise();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);  // "Wait please" is painted
  const QString shown = PortCombo->currentText();
  std::vector<std::string> ports;
  ListSerialPorts(ports);
  std::map<std::string, std::string> devices;
  for (const plat::TPortEntry& entry : plat::ListPortEntries()) devices[entry.Name] = entry.Device;
  PortCombo->blockSignals(true);
  PortCombo->clear();
  for (const std::string& name : ports) {
    PortCombo->addItem(Q(name));
    auto device = devices.find(name);
    if (device != devices.end()) {
      std::error_code ec;
      std::string target = std::filesystem::canonical(device->second, ec).string();
      QString tip = Q(device->second);
      if (!ec && target != device->second) tip += " → " + Q(target);
      PortCombo->setItemData(PortCombo->count() - 1, tip, Qt::ToolTipRole);
    }
  }
  int chosen = shown.isEmpty() ? -1 : PortCombo->findText(shown, Qt::MatchExactly);
  if (chosen < 0) chosen = PortCombo->findText(Q(Sets.ComPort), Qt::MatchExactly);
  PortCombo->setCurrentIndex(chosen);
  PortCombo->blockSignals(false);
  WaitPortPanel->hide();
}

void TMainF::ProgButClick() {
  StartJob(ModeProgram);
}
void TMainF::VerCheckButClick() {
  StartJob(ModeVersions);
}

void TMainF::StartJob(std::int32_t mode) {
  StopDiagnosis();  // the job needs the port
  TJobInputs inputs;
  inputs.Port = PortCombo->currentText().toStdString();
  inputs.Rate = RateCombo->currentText().toStdString();
  inputs.Protocol = ProtCombo->currentText().toStdString();
  inputs.ProtocolIndex = ProtCombo->currentIndex();
  inputs.SystemFile = BinFileEdit->text().toStdString();
  inputs.ResetIndex = ResetCombo->currentIndex();
  history_.Begin(mode, inputs);
  switch (control_->StartJob(mode, inputs)) {
    case TRunControl::TStart::Started:
    case TRunControl::TStart::HandedToThread:
      break;  // recorded when it ends
    case TRunControl::TStart::PortNotOpened:
      history_.End(control_->Job().get(), false, true, log_.Lines());
      break;
    default:
      history_.Cancel();
      break;
  }
}

void TMainF::ClearLog() {
  log_.Clear();
  LogBox->clear();
}

void TMainF::ShowProgress(const TProgressInfo& info) {
  TProgressLog::TChange change = log_.Show(info);
  if (change == TProgressLog::TChange::None) return;
  LogBox->setUpdatesEnabled(false);  // one repaint per report, however often they come
  const QString line = Q(log_.Lines().back());
  if (change == TProgressLog::TChange::Replaced && LogBox->count() > 0)
    LogBox->item(LogBox->count() - 1)->setText(line);
  else
    LogBox->addItem(line);
  if (LogBox->currentRow() != LogBox->count() - 1) LogBox->setCurrentRow(LogBox->count() - 1);
  LogBox->setUpdatesEnabled(true);
  LogBox->repaint();
}

void TMainF::SelectLastLine() {
  if (LogBox->count() > 0) LogBox->setCurrentRow(LogBox->count() - 1);
}

void TMainF::FocusLog() {
  LogBox->setFocus();
}
void TMainF::FocusProgButton() {
  ProgBut->setFocus();
}

void TMainF::Synchronize(const std::function<void()>& fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(
      this, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
}

void TMainF::Post(int message, std::function<void()> fn) {
  QCoreApplication::postEvent(this, new TPostedCall(message, std::move(fn)));
}

void TMainF::RunCallsUntil(const std::function<bool()>& done) {
  // The programming thread's synchronous reports come as queued calls: they run here while the
  // window waits for the thread (only the thread's last steps, a second or two at most).
  while (!done()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
}

bool TMainF::event(QEvent* event) {
  if (event->type() == WM_RECEIVER_NO_ANSWER || event->type() == WM_RECEIVER_CONNECTED ||
      event->type() == WM_RECEIVER_LOST) {
    static_cast<TPostedCall*>(event)->Fn();
    return true;
  }
  return QWidget::event(event);
}

void TMainF::closeEvent(QCloseEvent* event) {
  if (!control_->CloseQuery()) {  // FormCloseQuery
    event->ignore();
    return;
  }
  StopDiagnosis();
  control_->Close();  // FormClose releases the session
  event->accept();
}

std::string TMainF::SavedLogText() const {
  if (log_.Lines().empty()) return std::string();
  plat::TFileInfo info;
  plat::ReadFileInfo(plat::ExecutablePath(), info);
  std::string text;
  auto line = [&](const std::string& l) { text += l + "\r\n"; };
  line("Com port = " + Sets.ComPort);
  line(Sets.ResetType == 0 ? "Reset = auto" : "Reset = manual");
  line("Baud rate = " + Sets.ComRate);
  line("Protocol = " + Sets.Protocol);
  line("File = " + QFileInfo(Q(Sets.SystemFile)).fileName().toStdString());
  line("FWU ver = " + info.Strings.FileVersion);
  line(std::string(33, '-'));
  for (const std::string& l : log_.Lines()) line(l);
  return Utf8ToCp1251(text);
}

bool TMainF::SaveLogTo(const QString& path) {
  const std::string text = SavedLogText();
  std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
  out << text;
  out.flush();
  return static_cast<bool>(out);
}

// "log-2026-12-10_14-36-25.txt" in the user's documents folder (the home folder without one).
QString TMainF::ProposedLogPath(const QDateTime& now) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
  return folder + "/log-" + now.toString("yyyy-MM-dd_hh-mm-ss") + ".txt";
}

// A name typed without an extension gets ".txt".
QString TMainF::WithLogExtension(const QString& path) {
  return QFileInfo(path).suffix().isEmpty() ? path + ".txt" : path;
}

// The log as it stands is saved, during a job as well as after it.
void TMainF::SaveAsButClick() {
  if (SavedLogText().empty()) return;  // nothing to save
  QString path = QFileDialog::getSaveFileName(
      this, QString(), ProposedLogPath(QDateTime::currentDateTime()), "*.txt (*.txt)");
  if (path.isEmpty()) return;
  path = WithLogExtension(path);
  if (!SaveLogTo(path))
    ShowMessage(std::string(Tr("Ошибка записи файла ", "The log could not be written to ")) +
                    path.toStdString(),
                TMessageIcon::Error);
}

void TMainF::AboutTitleButtonMouseDown() {
  if (aboutF_ != nullptr) aboutF_->exec();
}

// The reason beside "Could not open COMn!" (errno of the failed open), also written to the log.
std::string TMainF::PortFailureReason(int error) {
  std::string reason;
  switch (error) {
    case EACCES:
    case EPERM:
      reason =
          Tr("Нет прав на порт: добавьте пользователя в группу dialout (sudo usermod -aG "
             "dialout $USER) и войдите в систему заново.",
             "No permission to use the port: add the user to the dialout group (sudo "
             "usermod -aG dialout $USER) and log in again.");
      break;
    case EBUSY:
    case EWOULDBLOCK:
      reason = Tr("Порт занят другой программой: закройте ее и повторите.",
                  "The port is in use by another program: close that program and try again.");
      break;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      reason = Tr("Порт не найден: проверьте кабель и выберите порт в списке заново.",
                  "The port does not exist: check the cable and choose the port from the list "
                  "again.");
      break;
    default:
      reason = std::string(Tr("Порт не открывается: ", "The port cannot be opened: ")) +
               std::strerror(error == 0 ? EIO : error) + ".";
  }
  ProgressInfo = TProgressInfo{Sets.ComPort + ": " + reason, ""};
  ShowProgress(ProgressInfo);
  return reason;
}

namespace {

std::string TryText(const TScanTry& attempt) {
  return "  " + std::string(ProtocolName(attempt.Protocol)) + ", " + std::to_string(attempt.Rate) +
         Tr(" бит/с", " bit/s");
}

}  // namespace

// After "Receiver not answer!": the other protocol at the chosen rate, then the other rates,
// in the background, each try a line of the log.
void TMainF::StartDiagnosis() {
  StopDiagnosis();
  const std::int32_t port = plat::PortNumberOf(Sets.ComPort);
  if (port <= 0) return;
  const std::uint8_t protocol = ProtCombo->currentIndex() == 0 ? ProtocolZorp : ProtocolNmea;
  const std::int32_t rate =
      static_cast<std::int32_t>(std::strtol(Sets.ComRate.c_str(), nullptr, 10));
  scan_ = std::make_unique<TProtocolScan>(port, ScanOrder(protocol, rate, false), SessionTimeoutMs);
  const int generation = ++scanGeneration_;
  // The scan reports on its own thread; the window takes each report in its event loop, and
  // drops those of a scan that was stopped meanwhile.
  auto onUi = [this, generation](std::function<void()> fn) {
    QMetaObject::invokeMethod(
        this,
        [this, generation, fn = std::move(fn)] {
          if (generation == scanGeneration_ && scan_) fn();
        },
        Qt::QueuedConnection);
  };
  scan_->OnTry = [this, onUi](const TScanTry& attempt) {
    onUi([this, attempt] {
      ProgressInfo = TProgressInfo{TryText(attempt), Tr("ожидание...", "waiting...")};
      ShowProgress(ProgressInfo);
    });
  };
  scan_->OnResult = [this, onUi](const TScanTry& attempt, TScanOutcome outcome, int error) {
    onUi([this, attempt, outcome, error] {
      if (outcome == TScanOutcome::OpenFailed) {
        ProgressInfo.Status = Tr("ошибка открытия порта", "the port could not be opened");
        ShowProgress(ProgressInfo);
        PortFailureReason(error);
        return;
      }
      ProgressInfo = TProgressInfo{TryText(attempt), outcome == TScanOutcome::Answered
                                                         ? Tr("отвечает", "answers")
                                                         : Tr("нет ответа", "not answer")};
      ShowProgress(ProgressInfo);
    });
  };
  scan_->OnFinished = [this, onUi](const TScanTry* answered) {
    std::optional<TScanTry> found;
    if (answered != nullptr) found = *answered;
    onUi([this, found] { DiagnosisFinished(found); });
  };
  ProgressInfo = TProgressInfo{Tr("Поиск протокола и скорости приемника",
                                  "Looking for the receiver's protocol and bit rate"),
                               ""};
  ShowProgress(ProgressInfo);
  scan_->Start();
}

void TMainF::StopDiagnosis() {
  if (!scan_) return;
  ++scanGeneration_;
  scan_->Stop();
  scan_.reset();
}

bool TMainF::DiagnosisRunning() const {
  return scan_ && scan_->Running();
}

void TMainF::DiagnosisFinished(std::optional<TScanTry> found) {
  scan_.reset();
  if (!found) {
    ProgressInfo = TProgressInfo{
        Tr("Приемник не отвечает ни на одном протоколе и скорости: проверьте кабель, порт и "
           "питание приемника",
           "The receiver answers at no protocol and bit rate: check the cable, the port and the "
           "receiver's power"),
        ""};
    ShowProgress(ProgressInfo);
    return;
  }
  const std::string protocol = ProtocolName(found->Protocol);
  const std::string rate = std::to_string(found->Rate);
  ProgressInfo = TProgressInfo{std::string(Tr("Приемник отвечает: ", "Receiver answers: ")) +
                                   protocol + ", " + rate + Tr(" бит/с", " bit/s"),
                               ""};
  ShowProgress(ProgressInfo);
  TMessage question;
  question.Caption = ApplicationTitle;
  question.Text = IsRussian ? "Приемник отвечает по протоколу " + protocol + " на скорости " +
                                  rate + " бит/с.\rУстановить эти параметры?"
                            : "The receiver answers in " + protocol + " at " + rate +
                                  " bit/s.\rTake these settings?";
  question.Icon = TMessageIcon::Information;
  question.Buttons = TMessageButtons::YesNo;
  question.Default = TMessageAnswer::Yes;
  if (ShowMessage(question) != TMessageAnswer::Yes) return;
  ProtCombo->setCurrentIndex(found->Protocol == ProtocolZorp ? 0 : 1);
  RateCombo->setCurrentIndex(RateCombo->findText(Q(rate), Qt::MatchExactly));
}

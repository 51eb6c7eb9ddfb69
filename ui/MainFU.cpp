#include "ui/MainFU.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QToolButton>

#include <fstream>

#include "appdata/Cp1251.h"
#include "appdata/MessageSink.h"
#include "platform/ExecutablePath.h"
#include "platform/Resources.h"
#include "platform/VersionInfo.h"
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
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
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
  BinFileBrowse->setFocusPolicy(Qt::NoFocus);
  connect(BinFileBrowse, &QToolButton::clicked, this, &TMainF::BrowseSystemFile);

  QFont bold = font();
  bold.setBold(true);
  ProgBut = Place<QPushButton>(panel, "ProgBut", 12, 183, 197, 35);
  ProgBut->setText("Programming");
  ProgBut->setFont(bold);
  ProgBut->setDefault(true);
  ProgBut->setAutoDefault(true);
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
  AboutTitleButton->setFocusPolicy(Qt::NoFocus);
  connect(AboutTitleButton, &QToolButton::pressed, this, &TMainF::AboutTitleButtonMouseDown);

  QWidget::setTabOrder(ProgBut, PortCombo);
  QWidget::setTabOrder(PortCombo, RateCombo);
  QWidget::setTabOrder(RateCombo, ProtCombo);
  QWidget::setTabOrder(ProtCombo, BinFileEdit);
  QWidget::setTabOrder(BinFileEdit, LogBox);
  QWidget::setTabOrder(LogBox, ResetCombo);
  QWidget::setTabOrder(ResetCombo, VerCheckBut);

  control_ = std::make_shared<::TRunControl>(dm_, *this);
}

TMainF::~TMainF() {
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

bool TMainF::eventFilter(QObject* watched, QEvent* event) {
  if (watched == PortCombo && event->type() == QEvent::FocusIn) FillPortList();  // PortComboEnter
  return QWidget::eventFilter(watched, event);
}

void TMainF::FillPortList() {
  WaitPortPanel->show();
  WaitPortPanel->raise();
  QApplication::processEvents();  // "Wait please" is painted before the list is read
  std::vector<std::string> ports;
  ListSerialPorts(ports);
  PortCombo->blockSignals(true);
  PortCombo->clear();
  for (const std::string& name : ports) PortCombo->addItem(Q(name));
  PortCombo->setCurrentIndex(PortCombo->findText(Q(Sets.ComPort), Qt::MatchExactly));
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
  TJobInputs inputs;
  inputs.Port = PortCombo->currentText().toStdString();
  inputs.Rate = RateCombo->currentText().toStdString();
  inputs.Protocol = ProtCombo->currentText().toStdString();
  inputs.ProtocolIndex = ProtCombo->currentIndex();
  inputs.SystemFile = BinFileEdit->text().toStdString();
  inputs.ResetIndex = ResetCombo->currentIndex();
  control_->StartJob(mode, inputs);
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
  control_->Close();  // FormClose releases the session
  event->accept();
}

std::string TMainF::SavedLogText() const {
  if (control_->JobRunning() || log_.Lines().empty()) return std::string();
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

void TMainF::SaveAsButClick() {
  if (SavedLogText().empty()) return;  // a job runs, or there is nothing to save
  QString path =
      QFileDialog::getSaveFileName(this, QString(), Q(ExePath) + "log.txt", "*.txt (*.txt)");
  if (path.isEmpty()) return;
  if (!SaveLogTo(path))
    ShowMessage(std::string(Tr("Ошибка записи файла ", "The log could not be written to ")) +
                    path.toStdString(),
                TMessageIcon::Error);
}

void TMainF::AboutTitleButtonMouseDown() {
  if (aboutF_ != nullptr) aboutF_->exec();
}

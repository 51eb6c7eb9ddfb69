#include "ui/qt/MainFU.h"

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

#include "appdata/MessageSink.h"
#include "platform/Resources.h"
#include "ui/qt/AboutFU.h"
#include "ui/qt/Controls.h"

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

}  // namespace

TMainF::TMainF(TDM& dm, QWidget* parent)
    : QWidget(parent), model_(std::make_unique<TMainModel>(dm, *this)) {
  const TMainCaptions& english = MainCaptions(false);
  setObjectName("MainF");
  setWindowTitle(english.Title);
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
  PortLab->setText(english.Port);
  PortCombo = Place<QComboBox>(panel, "PortCombo", 104, 13, 105, 24);
  PortCombo->installEventFilter(this);
  WaitPortPanel = Place<QLabel>(panel, "WaitPortPanel", 104, 13, 105, 24);
  WaitPortPanel->setText(english.WaitPort);
  WaitPortPanel->setAlignment(Qt::AlignCenter);
  WaitPortPanel->setFrameShape(QFrame::Panel);
  WaitPortPanel->setAutoFillBackground(true);
  WaitPortPanel->hide();

  ResetLab = Place<QLabel>(panel, "ResetLab", 12, 49, 90, 16);
  ResetLab->setText(english.Reset);
  ResetCombo = Place<QComboBox>(panel, "ResetCombo", 104, 46, 105, 24);
  ResetCombo->addItems({english.ResetAuto, english.ResetManual});
  ResetCombo->setCurrentIndex(-1);
  connect(ResetCombo, &QComboBox::currentIndexChanged, this, &TMainF::ResetComboChange);

  RateLab = Place<QLabel>(panel, "RateLab", 12, 82, 90, 16);
  RateLab->setText(english.Rate);
  RateCombo = Place<QComboBox>(panel, "RateCombo", 104, 79, 105, 24);
  for (std::int32_t rate : OfferedRates) RateCombo->addItem(QString::number(rate));
  RateCombo->setCurrentIndex(RateCombo->findText("115200"));

  ProtLab = Place<QLabel>(panel, "ProtLab", 12, 114, 90, 16);
  ProtLab->setText(english.Protocol);
  ProtCombo = Place<QComboBox>(panel, "ProtCombo", 104, 111, 105, 24);
  for (const char* protocol : ProtocolItems) ProtCombo->addItem(protocol);
  ProtCombo->setCurrentIndex(0);

  SysFileLab = Place<QLabel>(panel, "SysFileLab", 12, 147, 90, 16);
  SysFileLab->setText(english.SystemFile);
  BinFileEdit = Place<QLineEdit>(panel, "BinFileEdit", 104, 144, 363, 24);
  BinFileEdit->setMaxLength(255);
  connect(BinFileEdit, &QLineEdit::textChanged, this, &TMainF::BinFileEditChange);
  BinFileBrowse = Place<QToolButton>(panel, "BinFileBrowse", 467, 144, 24, 24);
  BinFileBrowse->setText(english.Browse);
  BinFileBrowse->setFocusPolicy(Qt::TabFocus);
  connect(BinFileBrowse, &QToolButton::clicked, this, &TMainF::BrowseSystemFile);

  const QFont bold = BoldWindowFont();
  ProgBut = Place<QPushButton>(panel, "ProgBut", 12, 183, 197, 35);
  ProgBut->setText(english.Program);
  ProgBut->setFont(bold);
  // The window's default button: Enter presses it from every control (keyPressEvent). It is
  // not an auto-default button, which would give up the default look when the focus leaves.
  ProgBut->setAutoDefault(false);
  ProgBut->setDefault(true);
  connect(ProgBut, &QPushButton::clicked, this, &TMainF::ProgButClick);
  VerCheckBut = Place<QPushButton>(panel, "VerCheckBut", 352, 183, 140, 35);
  VerCheckBut->setText(english.Versions);
  VerCheckBut->setFont(bold);
  connect(VerCheckBut, &QPushButton::clicked, this, &TMainF::VerCheckButClick);

  LogBox = Place<TLogList>(panel, "LogBox", 12, 232, 480, 52);
  LogBox->setSelectionMode(QAbstractItemView::SingleSelection);
  LogBox->setUniformItemSizes(true);
  LogBox->setStyleSheet("QListWidget::item { height: 16px; }");
  LogBox->setContextMenuPolicy(Qt::CustomContextMenu);
  LogPopup = new QMenu(this);
  LogPopup->setObjectName("LogPopup");
  QAction* saveAs = LogPopup->addAction(english.SaveAs);
  saveAs->setObjectName("SaveAsBut");
  connect(saveAs, &QAction::triggered, this, &TMainF::SaveAsButClick);
  connect(LogBox, &QListWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { LogPopup->popup(LogBox->viewport()->mapToGlobal(at)); });

  // The title bar belongs to the window manager here: the About button sits on the panel, at
  // the right under the logo, level with the protocol box.
  AboutTitleButton = Place<TIconButton>(panel, "AboutTitleButton", 474, 114, 18, 18);
  if (const plat::TResourceEntry* icon = plat::FindResource("BITMAP", "AboutIcon")) {
    QPixmap pixmap;
    pixmap.loadFromData(icon->Data, static_cast<uint>(icon->Size));
    AboutTitleButton->setIcon(QIcon(pixmap));
  }
  AboutTitleButton->setIconSize(QSize(16, 16));
  AboutTitleButton->setAutoRaise(true);
  AboutTitleButton->setFocusPolicy(Qt::TabFocus);
  AboutTitleButton->setToolTip(english.About);
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
  RecordJobs();
}

TMainF::~TMainF() {
  model_->Close();
}

void TMainF::RecordJobs() {
  model_->OnJobStarting = [this](const TJobRequest& request) { history_.Begin(request); };
  // Every job that reached a port leaves its record in the history (once; after "Receiver not
  // answer!" before the diagnosis adds its lines to the log).
  model_->OnJobEnded = [this](const TJobOutcome& outcome) {
    switch (outcome.End) {
      case TJobEnd::InputMissing:
      case TJobEnd::ResidentMissing:
      case TJobEnd::FileRefused:
        history_.Cancel();
        break;
      default:
        history_.End(RunControl().Job().get(), RunControl().LastThread() != nullptr,
                     outcome.End == TJobEnd::PortNotOpened, model_->LogLines());
    }
  };
}

void TMainF::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TMainF::FormShow() {
  ApplyLanguage();
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  const TInitialValues initial = model_->InitialValues();
  PortCombo->clear();
  for (const TPortItem& port : initial.Ports) PortCombo->addItem(Q(port.Name));
  PortCombo->setCurrentIndex(PortCombo->findText(Q(initial.Values.Port), Qt::MatchExactly));
  RateCombo->setCurrentIndex(initial.Values.Rate);
  ProtCombo->setCurrentIndex(initial.Values.Protocol);
  ResetCombo->setCurrentIndex(initial.Values.Reset);
  ResetComboChange();
  BinFileEdit->setToolTip(Q(model_->FileTooltip("")));
  browseFolder_ = Q(initial.BrowseFolder);
  if (!initial.Values.SystemFile.empty()) BinFileEdit->setText(Q(initial.Values.SystemFile));
  ProgBut->setFocus();
}

void TMainF::ApplyLanguage() {
  if (const plat::TResourceEntry* bitmap = plat::FindResource("BITMAP", model_->LogoResource())) {
    QPixmap pixmap;
    pixmap.loadFromData(bitmap->Data, static_cast<uint>(bitmap->Size));
    LogoImage->setPixmap(pixmap);
  }
  const TMainCaptions& captions = model_->Captions();
  PortLab->setText(captions.Port);
  ResetLab->setText(captions.Reset);
  ResetCombo->setItemText(0, captions.ResetAuto);
  ResetCombo->setItemText(1, captions.ResetManual);
  RateLab->setText(captions.Rate);
  ProtLab->setText(captions.Protocol);
  SysFileLab->setText(captions.SystemFile);
  ProgBut->setText(captions.Program);
  VerCheckBut->setText(captions.Versions);
  AboutTitleButton->setToolTip(captions.About);
}

TMainValues TMainF::Values() const {
  TMainValues values;
  values.Port = PortCombo->currentText().toStdString();
  values.Reset = ResetCombo->currentIndex();
  values.Rate = RateCombo->currentIndex();
  values.Protocol = ProtCombo->currentIndex();
  values.SystemFile = BinFileEdit->text().toStdString();
  return values;
}

void TMainF::PaintEnabling(const TMainEnabling& enabling) {
  PortCombo->setEnabled(enabling.Port);
  BinFileEdit->setEnabled(enabling.SystemFile);
  BinFileBrowse->setEnabled(enabling.Browse);
  ResetCombo->setEnabled(enabling.Reset);
  ProgBut->setEnabled(enabling.Program);
  VerCheckBut->setEnabled(enabling.Versions);
  RateCombo->setEnabled(enabling.Rate);
  ProtCombo->setEnabled(enabling.Protocol);
}

void TMainF::PaintResetEnabling(const TResetEnabling& enabling) {
  RateCombo->setEnabled(enabling.Rate);
  RateLab->setEnabled(enabling.RateLabel);
  ProtCombo->setEnabled(enabling.Protocol);
  ProtLab->setEnabled(enabling.ProtocolLabel);
}

void TMainF::ResetComboChange() {
  model_->ResetChanged(ResetCombo->currentIndex());
}

void TMainF::BinFileEditChange() {
  BinFileEdit->setToolTip(Q(model_->FileTooltip(BinFileEdit->text().toStdString())));
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
  const std::string shown = PortCombo->currentText().toStdString();
  const std::vector<TPortItem> ports = model_->PortItems();
  PortCombo->blockSignals(true);
  PortCombo->clear();
  for (const TPortItem& port : ports) {
    PortCombo->addItem(Q(port.Name));
    if (!port.Tooltip.empty())
      PortCombo->setItemData(PortCombo->count() - 1, Q(port.Tooltip), Qt::ToolTipRole);
  }
  PortCombo->setCurrentIndex(model_->ChosenPort(ports, shown));
  PortCombo->blockSignals(false);
  WaitPortPanel->hide();
}

void TMainF::ProgButClick() {
  model_->Start(ModeProgram);
}
void TMainF::VerCheckButClick() {
  model_->Start(ModeVersions);
}

void TMainF::ClearLogLines() {
  LogBox->clear();
}

void TMainF::AddLogLine(const std::string& line) {
  LogBox->setUpdatesEnabled(false);  // one repaint per report, however often they come
  LogBox->addItem(Q(line));
  SelectLastLogLine();
  LogBox->setUpdatesEnabled(true);
  LogBox->repaint();
}

void TMainF::ReplaceLastLogLine(const std::string& line) {
  if (LogBox->count() == 0) {
    AddLogLine(line);
    return;
  }
  LogBox->setUpdatesEnabled(false);
  LogBox->item(LogBox->count() - 1)->setText(Q(line));
  SelectLastLogLine();
  LogBox->setUpdatesEnabled(true);
  LogBox->repaint();
}

void TMainF::SelectLastLogLine() {
  if (LogBox->count() > 0 && LogBox->currentRow() != LogBox->count() - 1)
    LogBox->setCurrentRow(LogBox->count() - 1);
}

void TMainF::SelectRateAndProtocol(int rate, int protocol) {
  ProtCombo->setCurrentIndex(protocol);
  RateCombo->setCurrentIndex(rate);
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
      event->type() == WM_RECEIVER_LOST || event->type() == WM_DIAGNOSIS_REPORT) {
    static_cast<TPostedCall*>(event)->Fn();
    return true;
  }
  return QWidget::event(event);
}

// The job's last steps (the restart command, the port's release) take a second or two: the
// window goes at once and they finish behind it.
void TMainF::HideForClosing() {
  if (aboutF_ != nullptr) aboutF_->hide();
  hide();
}

void TMainF::closeEvent(QCloseEvent* event) {
  if (!model_->CloseQuery()) {  // FormCloseQuery
    event->ignore();
    return;
  }
  model_->Close();  // FormClose releases the session
  event->accept();
}

bool TMainF::SaveLogTo(const QString& path) {
  return model_->SaveLogTo(path.toStdString());
}

// "log-2026-12-10_14-36-25.txt" in the user's documents folder (the home folder without one).
QString TMainF::ProposedLogPath(const QDateTime& now) {
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
  std::tm local{};
  local.tm_year = now.date().year() - 1900;
  local.tm_mon = now.date().month() - 1;
  local.tm_mday = now.date().day();
  local.tm_hour = now.time().hour();
  local.tm_min = now.time().minute();
  local.tm_sec = now.time().second();
  return folder + "/" + Q(ProposedLogName(local));
}

// A name typed without an extension gets ".txt".
QString TMainF::WithLogExtension(const QString& path) {
  return Q(::WithLogExtension(path.toStdString()));
}

// The log as it stands is saved, during a job as well as after it.
void TMainF::SaveAsButClick() {
  if (SavedLogText().empty()) return;  // nothing to save
  QString path = QFileDialog::getSaveFileName(
      this, QString(), ProposedLogPath(QDateTime::currentDateTime()), "*.txt (*.txt)");
  if (path.isEmpty()) return;
  path = WithLogExtension(path);
  if (!SaveLogTo(path))
    ShowMessage(model_->SaveFailedText(path.toStdString()), TMessageIcon::Error);
}

void TMainF::AboutTitleButtonMouseDown() {
  if (aboutF_ != nullptr) aboutF_->exec();
}

#include "ui/qt/AboutFU.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QUrl>

#include "appdata/DMU.h"
#include "ui/model/MainModel.h"
#include "ui/qt/Controls.h"

TAboutF::TAboutF(TDM& dm, QWidget* parent) : QDialog(parent), dm_(dm) {
  const TAboutCaptions& english = AboutCaptions(false);
  setObjectName("AboutF");
  setWindowTitle(english.Title);
  setFixedSize(328, 165);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFont(WindowFont());

  const QFont bold = BoldWindowFont();
  ProgNameLab = Place<QLabel>(this, "ProgNameLab", 14, 15, 266, 16);
  ProgNameLab->setFont(bold);
  VerLab = Place<QLabel>(this, "VerLab", 14, 47, 56, 16);
  VerLab->setText(english.Version);
  VersionInfoLab = Place<QLabel>(this, "VersionInfoLab", 81, 47, 204, 16);
  LangLab = Place<QLabel>(this, "LangLab", 14, 79, 67, 16);
  LangLab->setText(english.Language);
  LangCombo = Place<QComboBox>(this, "LangCombo", 81, 76, 58, 24);
  for (const char* language : LanguageItems) LangCombo->addItem(language);
  connect(LangCombo, &QComboBox::currentIndexChanged, this, &TAboutF::LangComboChange);
  sBevel1 = Place<QFrame>(this, "sBevel1", 14, 106, 301, 8);
  sBevel1->setFrameShape(QFrame::HLine);
  sBevel1->setFrameShadow(QFrame::Raised);

  sWebLabel1 = Place<QLabel>(this, "sWebLabel1", 14, 133, 200, 16);
  webAddress_ = QString::fromStdString(AboutData().WebAddress);
  sWebLabel1->setTextFormat(Qt::RichText);
  sWebLabel1->setCursor(Qt::PointingHandCursor);
  sWebLabel1->installEventFilter(this);
  ShowWebLink(false);
  sWebLabel1->resize(sWebLabel1->sizeHint().width(), 16);  // the pointer is over the address
  sWebLabel1->setOpenExternalLinks(false);
  connect(sWebLabel1, &QLabel::linkActivated, this,
          [](const QString& link) { QDesktopServices::openUrl(QUrl(link)); });

  sBitBtn1 = Place<QPushButton>(this, "sBitBtn1", 224, 126, 91, 32);
  sBitBtn1->setText(english.Ok);
  sBitBtn1->setFont(bold);
  sBitBtn1->setDefault(true);
  connect(sBitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutF::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TAboutF::FormShow() {
  const TAboutCaptions& captions = AboutCaptions(IsRussian);
  setWindowTitle(captions.Title);
  VerLab->setText(captions.Version);
  const TAboutData data = AboutData();
  settingLanguage_ = true;
  LangCombo->setCurrentIndex(data.Language);
  settingLanguage_ = false;
  ProgNameLab->setText(QString::fromStdString(data.Name));
  VersionInfoLab->setText(QString::fromStdString(data.Version));
  CentreOverMainWindow();
}

// Centred over the main window, frames included: move() places a window's frame, and from the
// second showing on the frame has its real size.
void TAboutF::CentreOverMainWindow() {
  if (parentWidget() == nullptr) return;
  const QWidget* main = parentWidget()->window();
  QRect frame = frameGeometry();
  QPoint client;  // where the window's own area goes when it has no frame yet
  if (frame == geometry()) {
    // Never shown: the window manager will give it a frame like the main window's, around the
    // place given here for its own area.
    const QRect outer = main->frameGeometry(), inner = main->geometry();
    frame.adjust(outer.left() - inner.left(), outer.top() - inner.top(),
                 outer.right() - inner.right(), outer.bottom() - inner.bottom());
    client = inner.topLeft() - outer.topLeft();
  }
  frame.moveCenter(main->frameGeometry().center());
  move(frame.topLeft() + client);
}

// The address is underlined only while the pointer is over it.
void TAboutF::ShowWebLink(bool hovered) {
  sWebLabel1->setText(QString("<a href=\"%1\" style=\"text-decoration: %2\">%1</a>")
                          .arg(webAddress_.toHtmlEscaped(), hovered ? "underline" : "none"));
}

bool TAboutF::eventFilter(QObject* watched, QEvent* event) {
  if (watched == sWebLabel1 && (event->type() == QEvent::Enter || event->type() == QEvent::Leave))
    ShowWebLink(event->type() == QEvent::Enter);
  return QDialog::eventFilter(watched, event);
}

void TAboutF::LangComboChange() {
  if (settingLanguage_ || LangCombo->currentIndex() < 0) return;
  SaveLanguage(dm_, LangCombo->currentIndex());  // takes effect at the next start
}

#include "ui/qt/QtMessageSink.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>

#include "ui/qt/Controls.h"

void PrepareMessageBox(QMessageBox& box, const TMessage& message) {
  QString text = QString::fromStdString(message.Text);
  text.replace('\r', '\n');
  box.setWindowTitle(QString::fromStdString(message.Caption));
  box.setTextFormat(Qt::PlainText);
  box.setText(text);
  switch (message.Icon) {
    case TMessageIcon::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case TMessageIcon::Warning:
      box.setIcon(QMessageBox::Warning);
      break;
    case TMessageIcon::Error:
      box.setIcon(QMessageBox::Critical);
      break;
    case TMessageIcon::None:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  if (message.Buttons == TMessageButtons::YesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(message.Default == TMessageAnswer::Yes ? QMessageBox::Yes
                                                                : QMessageBox::No);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
  // The box wraps long lines at half the screen's width; a question written in three lines
  // must read in three lines.
  if (QLabel* label = box.findChild<QLabel*>("qt_msgbox_label")) {
    const QFontMetrics metrics(label->font());
    int widest = 0;
    for (const QString& line : text.split('\n'))
      widest = std::max(widest, metrics.horizontalAdvance(line));
    label->setMinimumWidth(widest + 2 * label->margin() + 4);
  }
  // A box at least as wide as its caption in the title bar, so that the window manager does not
  // shorten it: the box's own layout sizes it by its text and buttons alone.
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    const QMargins margins = grid->contentsMargins();
    const int width = CaptionBarWidth(box.windowTitle()) - margins.left() - margins.right();
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
  }
}

int CaptionBarWidth(const QString& caption) {
  // The title bar's bold caption, the window icon at its left and three buttons at its right.
  constexpr int decorations = 110;
  return QFontMetrics(BoldWindowFont()).horizontalAdvance(caption) + decorations;
}

TMessageAnswer TQtMessageSink::Show(const TMessage& message) {
  QMessageBox box(parent_);
  PrepareMessageBox(box, message);
  const int answer = box.exec();
  if (message.Buttons == TMessageButtons::YesNo)
    return answer == QMessageBox::Yes ? TMessageAnswer::Yes : TMessageAnswer::No;
  return TMessageAnswer::Ok;
}

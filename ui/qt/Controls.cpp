#include "ui/qt/Controls.h"

#include <QFontInfo>
#include <QHelpEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

QFont BoldWindowFont() {
  QFont bold("DejaVu Sans Condensed");
  bold.setPixelSize(13);
  bold.setBold(true);
  if (QFontInfo(bold).family() == "DejaVu Sans Condensed" ||
      QFontInfo(bold).styleName().contains("Condensed"))
    return bold;
  bold = WindowFont();
  bold.setBold(true);
  return bold;
}

void DrawFocusFrame(QWidget& on, const QRect& rect) {
  QPainter painter(&on);
  painter.setRenderHint(QPainter::Antialiasing, false);
  QColor colour = on.palette().color(QPalette::Highlight);
  painter.setPen(QPen(colour, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(rect.adjusted(0, 0, -1, -1));
}

void TIconButton::paintEvent(QPaintEvent* event) {
  QToolButton::paintEvent(event);
  if (hasFocus()) DrawFocusFrame(*this, rect());
}

TLogList::TLogList(QWidget* parent) : QListWidget(parent) {
  // A horizontal scroll bar would cover a row of the three the list shows.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setTextElideMode(Qt::ElideRight);
}

QString TLogList::CutLineAt(const QPoint& at) const {
  const QListWidgetItem* line = itemAt(at);
  if (line == nullptr) return QString();
  // The item's text margins: the style's focus frame margin and a pixel on each side.
  const int margins = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
  const int room = std::min(visualItemRect(line).width(), viewport()->width()) - margins;
  return fontMetrics().horizontalAdvance(line->text()) > room ? line->text() : QString();
}

void TLogList::paintEvent(QPaintEvent* event) {
  QListWidget::paintEvent(event);
  if (hasFocus()) DrawFocusFrame(*viewport(), viewport()->rect());
}

void TLogList::focusInEvent(QFocusEvent* event) {
  QListWidget::focusInEvent(event);
  viewport()->update();
}

void TLogList::focusOutEvent(QFocusEvent* event) {
  QListWidget::focusOutEvent(event);
  viewport()->update();
}

bool TLogList::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QListWidget::viewportEvent(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const QString whole = CutLineAt(help->pos());
  if (whole.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(help->globalPos(), whole, viewport(), visualItemRect(itemAt(help->pos())));
  }
  return true;
}

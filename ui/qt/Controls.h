// What every window of the program shares: its fonts, the way a control is placed, and the
// controls that draw their own focus mark.
#pragma once

#include <QFont>
#include <QListWidget>
#include <QToolButton>
#include <QWidget>

// Tahoma at a 13-pixel character height where installed, the closest sans font otherwise.
inline QFont WindowFont() {
  QFont font("Tahoma");
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(13);
  return font;
}

// The bold captions. The Tahoma-metric font's bold file has bold advances over regular strokes,
// so bold text is DejaVu Sans Condensed Bold, whose advances are Tahoma Bold's to a pixel, where
// it is installed (LoadWindowFonts); Tahoma made bold otherwise.
QFont BoldWindowFont();

// A control with its name, at left, top, width and height in its parent.
template <typename T>
T* Place(QWidget* parent, const char* name, int left, int top, int width, int height) {
  T* control = new T(parent);
  control->setObjectName(name);
  control->setGeometry(left, top, width, height);
  return control;
}

// The About button: a flat icon button that shows a frame while it has the focus (the style
// draws its focus mark under the icon, where nobody sees it).
class TIconButton : public QToolButton {
 public:
  using QToolButton::QToolButton;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The log list: a frame while it has the focus, also when it is empty (the style marks only the
// current line); a line too long for the list is cut with "…" and shown whole as its tooltip.
class TLogList : public QListWidget {
 public:
  explicit TLogList(QWidget* parent = nullptr);
  // The whole line under the point of the list's viewport when it does not fit, else empty.
  QString CutLineAt(const QPoint& at) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool viewportEvent(QEvent* event) override;
};

// The focus mark of the window's controls: the highlight colour's frame that the style gives a
// focused field.
void DrawFocusFrame(QWidget& on, const QRect& rect);

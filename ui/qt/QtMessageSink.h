#pragma once

#include "appdata/MessageSink.h"

class QMessageBox;
class QString;
class QWidget;

// The window's message boxes: modal, on the UI thread.
class TQtMessageSink : public TMessageSink {
 public:
  explicit TQtMessageSink(QWidget* parent) : parent_(parent) {}
  TMessageAnswer Show(const TMessage& message) override;

 private:
  QWidget* parent_;
};

// Fills a box with the message: caption, text (CR separates lines), icon and buttons. The text
// gets the width that keeps each of its lines on one line.
void PrepareMessageBox(QMessageBox& box, const TMessage& message);
// The width a window needs for the window manager to show its whole caption: the caption in the
// title bar's bold face, with the icon and buttons beside it.
int CaptionBarWidth(const QString& caption);

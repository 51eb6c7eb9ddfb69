#pragma once

#include "appdata/MessageSink.h"

class QMessageBox;
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

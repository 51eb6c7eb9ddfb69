#pragma once

#include "appdata/MessageSink.h"

class QWidget;

// The window's message boxes: modal, on the UI thread.
class TQtMessageSink : public TMessageSink {
 public:
  explicit TQtMessageSink(QWidget* parent) : parent_(parent) {}
  TMessageAnswer Show(const TMessage& message) override;

 private:
  QWidget* parent_;
};

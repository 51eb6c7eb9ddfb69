#include "ui/QtMessageSink.h"

#include <QMessageBox>

TMessageAnswer TQtMessageSink::Show(const TMessage& message) {
  QString text = QString::fromStdString(message.Text);
  text.replace('\r', '\n');
  QMessageBox box(parent_);
  box.setWindowTitle(QString::fromStdString(message.Caption));
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
    return box.exec() == QMessageBox::Yes ? TMessageAnswer::Yes : TMessageAnswer::No;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return TMessageAnswer::Ok;
}

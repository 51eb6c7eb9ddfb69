// The window program: the application title, then the main window, the data module and the
// hidden About window, in this order; then the event loop.
#include <QApplication>

#include "appdata/DMU.h"
#include "ui/qt/AboutFU.h"
#include "ui/qt/Application.h"
#include "ui/qt/Controls.h"
#include "ui/qt/MainFU.h"
#include "ui/qt/QtMessageSink.h"

namespace {

// The window's boxes, each also told to the window, whose job records keep the final message.
class TRecordedMessages : public TMessageSink {
 public:
  TRecordedMessages(TMainF& window) : window_(window), boxes_(&window) {}
  TMessageAnswer Show(const TMessage& message) override {
    window_.MessageShown(message.Text);
    return boxes_.Show(message);
  }

 private:
  TMainF& window_;
  TQtMessageSink boxes_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // No display name: the window system would append it to every caption ("About", "Warning").
  QApplication::setApplicationName("ZV8810_FWU");
  LoadWindowFonts();
  QApplication::setFont(WindowFont());
  TDM DM;  // fixes ExePath and IniName; the settings are read below, before any window shows
  TMainF MainF(DM);
  TRecordedMessages messages(MainF);
  SetMessageSink(&messages);
  CreateDataModule(DM);
  InstallQtTranslations(app);
  TAboutF AboutF(DM, &MainF);
  MainF.SetAboutWindow(&AboutF);
  MainF.show();
  int result = app.exec();
  SetMessageSink(nullptr);
  // Closing stopped the programming thread and waited for its end: nothing runs past here.
  return result;
}

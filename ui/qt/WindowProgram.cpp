#include "ui/qt/WindowProgram.h"

#include <QApplication>
#include <QTimer>

#include "appdata/DMU.h"
#include "platform/CrashReport.h"
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

int RunWindowProgram(int argc, char** argv, const std::function<void(TMainF&)>& shown) {
  // First, before any thread starts: a crash writes a report in the user's data folder, says
  // where on standard error and ends the program with 70; the next start tells of it.
  plat::InstallCrashHandler({"ZV8810_FWU", ZV_WINDOW_VERSION, plat::CrashReportFolder(), 70, true});
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
  // Once the window is up: the report a crash of the last run left, if no window told of it yet.
  QTimer::singleShot(0, &MainF, [] { ShowCrashReportNotice(); });
  if (shown) shown(MainF);
  int result = app.exec();
  SetMessageSink(nullptr);
  // Closing stopped the programming thread and waited for its end: nothing runs past here.
  return result;
}

#include "appdata/MessageSink.h"

#include <atomic>
#include <cstdio>

const char* const ApplicationTitle = "ZV-8810 Firmware Updater";

namespace {

class TStderrSink : public TMessageSink {
 public:
  TMessageAnswer Show(const TMessage& message) override {
    std::string text = message.Text;
    for (char& c : text)
      if (c == '\r') c = '\n';
    std::fprintf(stderr, "%s\n", text.c_str());
    return message.Buttons == TMessageButtons::YesNo ? message.Default : TMessageAnswer::Ok;
  }
};

TStderrSink stderrSink;
std::atomic<TMessageSink*> currentSink{nullptr};

}  // namespace

void SetMessageSink(TMessageSink* sink) {
  currentSink = sink;
}

TMessageAnswer ShowMessage(const TMessage& message) {
  TMessageSink* sink = currentSink.load();
  return (sink != nullptr ? sink : &stderrSink)->Show(message);
}

void ShowMessage(const std::string& text, TMessageIcon icon) {
  TMessage message;
  message.Caption = ApplicationTitle;
  message.Text = text;
  message.Icon = icon;
  ShowMessage(message);
}

void ReportUnexpectedFailure(const std::string& what) {
  ShowMessage("Unexpected failure: " + what, TMessageIcon::Error);
}

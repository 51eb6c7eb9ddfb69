// Message boxes go through one seam: the window shows a modal box, the command line prints on
// standard error, tests record and answer.
#pragma once

#include <string>

enum class TMessageIcon { None, Information, Warning, Error };
enum class TMessageButtons { Ok, YesNo };
enum class TMessageAnswer { Ok, Yes, No };

struct TMessage {
  std::string Caption;
  std::string Text;
  TMessageIcon Icon = TMessageIcon::None;
  TMessageButtons Buttons = TMessageButtons::Ok;
  TMessageAnswer Default = TMessageAnswer::Ok;
};

class TMessageSink {
 public:
  virtual ~TMessageSink() = default;
  virtual TMessageAnswer Show(const TMessage& message) = 0;
};

// The application title, the caption of the data module's boxes.
extern const char* const ApplicationTitle;

// Installs the sink (not owned; it must outlive its use). Without one, messages go to stderr.
void SetMessageSink(TMessageSink* sink);
TMessageAnswer ShowMessage(const TMessage& message);
// A box with the application title, the text and one OK button.
void ShowMessage(const std::string& text, TMessageIcon icon = TMessageIcon::None);

// The program's general handler of unexpected failures: reports and lets the program go on.
void ReportUnexpectedFailure(const std::string& what);

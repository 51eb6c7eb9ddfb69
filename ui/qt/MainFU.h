// The main window's Qt face: the operator's inputs, the two command buttons and the log list,
// laid out and wired to the window's model (ui/model/MainModel.h), which decides the rest.
#pragma once

#include <QWidget>

#include <memory>
#include <optional>

#include "appdata/DMU.h"
#include "ui/WindowHistory.h"
#include "ui/model/MainModel.h"

class QComboBox;
class QDateTime;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QToolButton;
class QFrame;
class TAboutF;
class TIconButton;
class TLogList;

class TMainF : public QWidget, public TMainFace {
  Q_OBJECT

 public:
  TMainF(TDM& dm, QWidget* parent = nullptr);
  ~TMainF() override;

  void SetAboutWindow(TAboutF* about) { aboutF_ = about; }
  TMainModel& Model() { return *model_; }
  TRunControl& RunControl() { return model_->RunControl(); }
  bool JobRunning() const { return model_->JobRunning(); }
  const std::vector<std::string>& LogLines() const { return model_->LogLines(); }
  void EnableControls(bool inputs, bool buttons) { model_->EnableControls(inputs, buttons); }
  // A message box the window showed (the job's record keeps its final message).
  void MessageShown(const std::string& text) { history_.Message(text); }

  // TMainFace
  TMainValues Values() const override;
  void PaintEnabling(const TMainEnabling& enabling) override;
  void PaintResetEnabling(const TResetEnabling& enabling) override;
  void AddLogLine(const std::string& line) override;
  void ReplaceLastLogLine(const std::string& line) override;
  void ClearLogLines() override;
  void SelectLastLogLine() override;
  void FocusLog() override;
  void FocusProgButton() override;
  void SelectRateAndProtocol(int rate, int protocol) override;
  void Synchronize(const std::function<void()>& fn) override;
  void Post(int message, std::function<void()> fn) override;
  void RunCallsUntil(const std::function<bool()>& done) override;
  void HideForClosing() override;

  void FillPortList();
  // The log as "Save As..." writes it (Windows-1251, CR LF); empty when nothing is to be saved.
  std::string SavedLogText() const { return model_->SavedLogText(); }
  bool SaveLogTo(const QString& path);
  static QString ProposedLogPath(const QDateTime& now);
  static QString WithLogExtension(const QString& path);

  // The search for the protocol and bit rate the receiver answers at, after "Receiver not
  // answer!"; a start of a job or the closing of the window stops it.
  void StartDiagnosis() { model_->StartDiagnosis(); }
  void StopDiagnosis() { model_->StopDiagnosis(); }
  bool DiagnosisRunning() const { return model_->DiagnosisRunning(); }

  // Controls, named as the code bears them.
  QLabel* LogoImage;
  QFrame* LogoBevel;
  QLabel* PortLab;
  QComboBox* PortCombo;
  QLabel* WaitPortPanel;
  QLabel* ResetLab;
  QComboBox* ResetCombo;
  QLabel* RateLab;
  QComboBox* RateCombo;
  QLabel* ProtLab;
  QComboBox* ProtCombo;
  QLabel* SysFileLab;
  QLineEdit* BinFileEdit;
  QToolButton* BinFileBrowse;
  QPushButton* ProgBut;
  QPushButton* VerCheckBut;
  TLogList* LogBox;
  QMenu* LogPopup;
  TIconButton* AboutTitleButton;

 public slots:
  void ProgButClick();
  void VerCheckButClick();
  void ResetComboChange();
  void BinFileEditChange();
  void SaveAsButClick();
  void AboutTitleButtonMouseDown();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void FormShow();
  void RecordJobs();
  void ApplyLanguage();
  void BrowseSystemFile();

  TWindowHistory history_;
  std::unique_ptr<TMainModel> model_;
  TAboutF* aboutF_ = nullptr;
  QString browseFolder_;
};

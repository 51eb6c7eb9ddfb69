// The main window: the operator's inputs, the two command buttons and the log list, and the
// window's side of the run control.
#pragma once

#include <QWidget>

#include <memory>
#include <optional>

#include "appdata/DMU.h"
#include "programmer/ProgressLog.h"
#include "programmer/RunControl.h"
#include "receiver/ProtocolScan.h"
#include "ui/WindowHistory.h"

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

class TMainF : public QWidget, public TRunControlFront {
  Q_OBJECT

 public:
  TMainF(TDM& dm, QWidget* parent = nullptr);
  ~TMainF() override;

  void SetAboutWindow(TAboutF* about) { aboutF_ = about; }
  TRunControl& RunControl() { return *control_; }
  bool JobRunning() const { return control_->JobRunning(); }
  const std::vector<std::string>& LogLines() const { return log_.Lines(); }
  // A message box the window showed (the job's record keeps its final message).
  void MessageShown(const std::string& text) { history_.Message(text); }

  // TRunControlFront
  void EnableControls(bool inputs, bool buttons) override;
  void ClearLog() override;
  void ShowProgress(const TProgressInfo& info) override;
  void SelectLastLine() override;
  void FocusLog() override;
  void FocusProgButton() override;
  void Synchronize(const std::function<void()>& fn) override;
  void Post(int message, std::function<void()> fn) override;
  void RunCallsUntil(const std::function<bool()>& done) override;

  void FillPortList();
  // The log as "Save As..." writes it (Windows-1251, CR LF); empty when nothing is to be saved.
  std::string SavedLogText() const;
  bool SaveLogTo(const QString& path);
  static QString ProposedLogPath(const QDateTime& now);
  static QString WithLogExtension(const QString& path);

  // The search for the protocol and bit rate the receiver answers at, after "Receiver not
  // answer!"; a start of a job or the closing of the window stops it.
  void StartDiagnosis();
  void StopDiagnosis();
  bool DiagnosisRunning() const;

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
  QListWidget* LogBox;
  QMenu* LogPopup;
  QToolButton* AboutTitleButton;

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
  void ApplyLanguage();
  void StartJob(std::int32_t mode);
  void BrowseSystemFile();
  std::string PortFailureReason(int error);
  void DiagnosisFinished(std::optional<TScanTry> found);

  TDM& dm_;
  std::shared_ptr<::TRunControl> control_;
  TProgressLog log_;
  TWindowHistory history_;
  TAboutF* aboutF_ = nullptr;
  QString browseFolder_;
  bool closing_ = false;
  std::unique_ptr<TProtocolScan> scan_;
  int scanGeneration_ = 0;
  // The window's own log reports (the diagnosis, a port's failure reason).
  TProgressInfo ProgressInfo;
};

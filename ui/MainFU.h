// The main window: the operator's inputs, the two command buttons and the log list, and the
// window's side of the run control.
#pragma once

#include <QWidget>

#include <memory>

#include "appdata/DMU.h"
#include "programmer/ProgressLog.h"
#include "programmer/RunControl.h"

class QComboBox;
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
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void FormShow();
  void ApplyLanguage();
  void StartJob(std::int32_t mode);
  void BrowseSystemFile();

  TDM& dm_;
  std::shared_ptr<::TRunControl> control_;
  TProgressLog log_;
  TAboutF* aboutF_ = nullptr;
  QString browseFolder_;
  bool closing_ = false;
};

// The About window: the program's name and version from its version block, the language of the
// next start, and the maker's web address.
#pragma once

#include <QDialog>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class TDM;

class TAboutF : public QDialog {
  Q_OBJECT

 public:
  TAboutF(TDM& dm, QWidget* parent = nullptr);

  QLabel* ProgNameLab;
  QLabel* VerLab;
  QLabel* VersionInfoLab;
  QLabel* LangLab;
  QComboBox* LangCombo;
  QFrame* sBevel1;
  QLabel* sWebLabel1;
  QPushButton* sBitBtn1;

 public slots:
  void LangComboChange();

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormShow();
  void CentreOverMainWindow();
  void ShowWebLink(bool hovered);

  TDM& dm_;
  QString webAddress_;
  bool settingLanguage_ = false;  // the marker: showing the window never writes the settings
};

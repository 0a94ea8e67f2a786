// The about box: the program icon, its name and version, an ownership line
// and OK. Modal over the main window; the broadcast and the log go on.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

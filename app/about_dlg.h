#pragma once

#include <QDialog>

// The About box: the program's name, version and what it is for.
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

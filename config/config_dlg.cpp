#include "config/config_dlg.h"

CConfigDlg::CConfigDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Jpeg ZENT Client Configuration");
}

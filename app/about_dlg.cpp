#include "app/about_dlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "res/app_icon.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("IDD_ABOUTBOX");
  setWindowTitle("About ZENT Client");
  auto* icon = new QLabel(this);
  icon->setPixmap(LoadAppIcon().pixmap(48, 48));
  auto* text = new QLabel(QString("<b>ZENT Client</b> version %1<br>Records a network camera's video on every event.")
                              .arg(QStringLiteral(ZENT_VERSION)),
                          this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("IDOK");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addWidget(text, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  setFixedSize(sizeHint());
}

// The main window's chrome: the About box, and the colours of its list boxes.

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QMenu>

#include "app/about_dlg.h"
#include "app/main/main_dlg.h"

void CMainDlg::OnAboutBox() {
  CAboutDlg about(this);
  about.exec();
}

// Linux window managers give a program no system menu of its own, so the window's context menu
// takes its place.
void CMainDlg::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  FillSystemMenu(menu);
  menu.exec(event->globalPos());
}

void CMainDlg::FillSystemMenu(QMenu& menu) {
  menu.setObjectName("SystemMenu");
  menu.addAction("Mi&nimize", this, &QWidget::showMinimized);
  menu.addAction("&Close", this, &QWidget::close);
  if (!m_strAboutMenu.isEmpty()) {
    menu.addSeparator();
    QAction* about = menu.addAction(m_strAboutMenu, this, &CMainDlg::OnAboutBox);
    about->setData(IDM_ABOUTBOX);
  }
}

void CMainDlg::OnCtlColor(QWidget* control) {
  auto* list = qobject_cast<QAbstractItemView*>(control);
  if (!list) return;
  QPalette palette = list->palette();
  palette.setBrush(QPalette::Base, m_hBrush);
  palette.setColor(QPalette::Text, Qt::white);
  list->setPalette(palette);
}

// The main window's keyboard filter: letters, digits and editing keys act only in the ID and
// password boxes, and Enter and Escape never act on the main window.

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

#include "app/main/main_dlg.h"
#include "app/typing_keys.h"

bool CMainDlg::PreTranslateMessage(QObject* target, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const auto& key = static_cast<const QKeyEvent&>(*event);
  // Alt combinations are the window manager's and the buttons' mnemonics.
  if (key.modifiers() & Qt::AltModifier) return false;
  if (IsEnterOrEscape(key)) return true;
  const bool inEditBox = target == m_editID || target == m_editPassword;
  return !inEditBox && IsTypingKey(key);
}

bool CMainDlg::eventFilter(QObject* target, QEvent* event) {
  if (event->type() == QEvent::KeyPress && target->isWidgetType()) {
    // Only the main window and the camera list's drop-down; message boxes and other windows
    // keep their keys.
    const QWidget* window = static_cast<QWidget*>(target)->window();
    if (window == this || window == m_comboCamera->view()->window()) return PreTranslateMessage(target, event);
  }
  return QDialog::eventFilter(target, event);
}

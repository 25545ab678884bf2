// The main window's keyboard filter: letters, digits and editing keys act only in the ID and
// password boxes, and Enter and Escape never act on the main window.

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

#include "app/main_dlg.h"

namespace {

// The keys the window swallows outside the two edit boxes, by their physical meaning: Backspace,
// Delete, letters, digits, the keypad's 1 to 9 and operators, and F1 to F11.
bool IsTypingKey(const QKeyEvent& key) {
  const int code = key.key();
  const bool keypad = key.modifiers() & Qt::KeypadModifier;
  if (code == Qt::Key_Backspace || code == Qt::Key_Delete) return true;
  if (code >= Qt::Key_A && code <= Qt::Key_Z) return true;
  if (code >= Qt::Key_F1 && code <= Qt::Key_F11) return true;
  if (!keypad) return code >= Qt::Key_0 && code <= Qt::Key_9;
  switch (code) {
    case Qt::Key_Asterisk: case Qt::Key_Plus: case Qt::Key_Comma:
    case Qt::Key_Minus: case Qt::Key_Period: case Qt::Key_Slash:
      return true;
    default:
      return code >= Qt::Key_1 && code <= Qt::Key_9;
  }
}

}  // namespace

bool CMainDlg::PreTranslateMessage(QObject* target, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const auto& key = static_cast<const QKeyEvent&>(*event);
  // Alt combinations are the window manager's and the buttons' mnemonics.
  if (key.modifiers() & Qt::AltModifier) return false;
  if (key.key() == Qt::Key_Escape || key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) return true;
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

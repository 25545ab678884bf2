#pragma once
// The keys that type into a text box: Backspace, Delete, letters, digits, the keypad's 1 to 9 and
// operators, and F1 to F11 (the key codes the windows' keyboard filters swallow).

#include <QKeyEvent>

inline bool IsTypingKey(const QKeyEvent& key) {
  const int code = key.key();
  const bool keypad = key.modifiers() & Qt::KeypadModifier;
  if (code == Qt::Key_Backspace || code == Qt::Key_Delete) return true;
  if (code >= Qt::Key_A && code <= Qt::Key_Z) return true;
  if (code >= Qt::Key_F1 && code <= Qt::Key_F11) return true;
  if (!keypad) return code >= Qt::Key_0 && code <= Qt::Key_9;
  switch (code) {
    case Qt::Key_Asterisk:
    case Qt::Key_Plus:
    case Qt::Key_Comma:
    case Qt::Key_Minus:
    case Qt::Key_Period:
    case Qt::Key_Slash: return true;
    default: return code >= Qt::Key_1 && code <= Qt::Key_9;
  }
}

inline bool IsEnterOrEscape(const QKeyEvent& key) {
  return key.key() == Qt::Key_Escape || key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
}

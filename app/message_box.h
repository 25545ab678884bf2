#pragma once
// Every message box of the program goes through here, so tests can read it instead of blocking.

#include <QString>
#include <functional>

class QWidget;

using MessageBoxHandler = std::function<void(const QString& caption, const QString& text, QWidget* owner)>;

// A modal box with an OK button. An empty caption means the program's name.
void ShowMessageBox(QWidget* owner, const QString& text, const QString& caption = QString());

// Installs another handler (tests); returns the one it replaces.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

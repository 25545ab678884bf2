#pragma once
// The data exchange's rule for a text box with a length limit, shared by the dialogs. Limits count
// the bytes the text takes where it goes (the profile's fixed fields, the log-in packet), so what
// a box accepts is what the file and the camera take whole.

#include <QLineEdit>
#include <optional>

class QWidget;

inline int TextBytes(const QString& text) { return static_cast<int>(text.toLocal8Bit().size()); }

// Puts the program's text into the box whole, even beyond the limit (a hand-edited profile);
// typing can then shorten it but never make it longer than the limit or than it was.
void PutLimitedText(QLineEdit* box, const QString& text, int limitBytes);

// The box's text, or nothing when it holds more than `limitBytes` (text the program put there):
// then the standard message is shown and the box gets the focus.
std::optional<QString> ExchangeLimitedText(QWidget* owner, QLineEdit* box, int limitBytes);

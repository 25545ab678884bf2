#pragma once
// The data exchange's rule for a text box with a length limit, shared by the dialogs.

#include <QLineEdit>
#include <optional>

#include "app/message_box.h"

// The box's text, or nothing when it holds more than `limit` characters (text the program put
// there): then the standard message is shown and the box gets the focus.
inline std::optional<QString> ExchangeLimitedText(QWidget* owner, QLineEdit* box, int limit) {
  if (box->text().size() > limit) {
    ShowMessageBox(owner, QString("Please enter no more than %1 characters.").arg(limit));
    box->setFocus();
    return std::nullopt;
  }
  return box->text();
}

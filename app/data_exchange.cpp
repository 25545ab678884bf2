#include "app/data_exchange.h"

#include <QValidator>
#include <algorithm>

#include "app/message_box.h"

namespace {

// Rejects an edit that would make the text longer, in bytes, than it may be. QLineEdit's own
// maximum counts characters and cuts text put in by the program, so it serves neither purpose.
class ByteLimitValidator : public QValidator {
 public:
  ByteLimitValidator(int limit, QObject* parent) : QValidator(parent), m_limit(limit), m_allowed(limit) {}

  void Allow(int bytes) { m_allowed = std::max(m_limit, bytes); }

  State validate(QString& input, int&) const override {
    const int bytes = TextBytes(input);
    if (bytes > m_allowed) return Invalid;
    m_allowed = std::max(m_limit, bytes);  // a shortened over-long text cannot grow back
    return Acceptable;
  }

 private:
  const int m_limit;
  mutable int m_allowed;
};

}  // namespace

void PutLimitedText(QLineEdit* box, const QString& text, int limitBytes) {
  auto* validator = dynamic_cast<ByteLimitValidator*>(const_cast<QValidator*>(box->validator()));
  if (!validator) {
    validator = new ByteLimitValidator(limitBytes, box);
    box->setValidator(validator);
  }
  validator->Allow(TextBytes(text));
  box->setText(text);
}

std::optional<QString> ExchangeLimitedText(QWidget* owner, QLineEdit* box, int limitBytes) {
  if (TextBytes(box->text()) > limitBytes) {
    ShowMessageBox(owner, QString("Please enter no more than %1 characters.").arg(limitBytes));
    box->setFocus();
    return std::nullopt;
  }
  return box->text();
}

#include "app/message_box.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {

void ModalMessageBox(const QString& caption, const QString& text, QWidget* owner) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
  box.exec();
}

MessageBoxHandler& Handler() {
  static MessageBoxHandler handler = ModalMessageBox;
  return handler;
}

}  // namespace

void ShowMessageBox(QWidget* owner, const QString& text, const QString& caption) {
  Handler()(caption.isEmpty() ? QCoreApplication::applicationName() : caption, text, owner);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  MessageBoxHandler old = std::move(Handler());
  Handler() = std::move(handler);
  return old;
}

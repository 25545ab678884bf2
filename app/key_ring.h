#pragma once
// Secrets the desktop keeps for the program, in the desktop's key ring (the Secret Service, through
// QtKeychain), never in the Options file. Both calls answer later, on the GUI thread.

#include <QString>
#include <functional>
#include <optional>

struct KeyRing {
  // `secret` is empty when nothing is stored; `error` says why the key ring could not be read.
  using ReadDone = std::function<void(std::optional<QString> secret, QString error)>;
  using WriteDone = std::function<void(QString error)>;
  std::function<void(const QString& key, ReadDone done)> read;
  // An empty secret removes the entry.
  std::function<void(const QString& key, const QString& secret, WriteDone done)> write;

  static KeyRing Real();
};

// The broker's user and password as one key ring entry, under the broker's "mqtt://HOST:PORT".
struct BrokerLogin {
  QString user;
  QString password;
  QString Secret() const { return user.isEmpty() ? QString() : user + '\n' + password; }
  static BrokerLogin FromSecret(const QString& secret) {
    const qsizetype newline = secret.indexOf('\n');
    if (newline < 0) return {};
    return {secret.left(newline), secret.mid(newline + 1)};
  }
};

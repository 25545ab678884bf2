#include "app/key_ring.h"

#include <qt6keychain/keychain.h>

namespace {

const QString kService = "zent-client";

void Read(const QString& key, KeyRing::ReadDone done) {
  auto* job = new QKeychain::ReadPasswordJob(kService);
  job->setAutoDelete(true);
  job->setKey(key);
  QObject::connect(job, &QKeychain::Job::finished, [done = std::move(done)](QKeychain::Job* finished) {
    auto* read = static_cast<QKeychain::ReadPasswordJob*>(finished);
    if (read->error() == QKeychain::NoError) done(read->textData(), {});
    else if (read->error() == QKeychain::EntryNotFound) done(std::nullopt, {});
    else done(std::nullopt, read->errorString());
  });
  job->start();
}

void Write(const QString& key, const QString& secret, KeyRing::WriteDone done) {
  QKeychain::Job* job;
  if (secret.isEmpty()) {
    auto* remove = new QKeychain::DeletePasswordJob(kService);
    remove->setKey(key);
    job = remove;
  } else {
    auto* write = new QKeychain::WritePasswordJob(kService);
    write->setKey(key);
    write->setTextData(secret);
    job = write;
  }
  job->setAutoDelete(true);
  QObject::connect(job, &QKeychain::Job::finished, [done = std::move(done)](QKeychain::Job* finished) {
    const bool fine = finished->error() == QKeychain::NoError || finished->error() == QKeychain::EntryNotFound;
    done(fine ? QString() : finished->errorString());
  });
  job->start();
}

}  // namespace

KeyRing KeyRing::Real() { return {Read, Write}; }

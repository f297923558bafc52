#include "platform/SecretStore.h"

#include <QCoroSignal>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <qt6keychain/keychain.h>

namespace daybrook {

namespace {

// Longer than D-Bus's own 25-second call time-out, so that a real answer
// (even an error) always wins.
constexpr std::chrono::seconds answerTimeout{30};

// Starts the job on the next turn of the event loop, after the caller is
// already waiting for its finished signal: a job may finish inside start().
QCoro::Task<SecretStore::Result> runJob(QKeychain::Job *job) {
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    QTimer::singleShot(0, job, [job] { job->start(); });
    const auto finished = co_await qCoro(job, &QKeychain::Job::finished, answerTimeout);

    SecretStore::Result result;
    if (!finished) {
        // A service that hangs counts as none; the job cleans up after
        // itself if it ever ends.
        job->setAutoDelete(true);
        result.status = SecretStore::Status::Unavailable;
        result.message = QStringLiteral("the secret service did not answer");
        co_return result;
    }
    switch (job->error()) {
    case QKeychain::NoError:
        result.status = SecretStore::Status::Ok;
        if (auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(job))
            result.value = read->textData();
        break;
    case QKeychain::EntryNotFound:
        result.status = SecretStore::Status::NotFound;
        break;
    default:
        result.status = SecretStore::Status::Unavailable;
        result.message = job->errorString();
        break;
    }
    job->deleteLater();
    co_return result;
}

} // namespace

KeychainSecretStore::KeychainSecretStore(QString service) : m_service(std::move(service)) {}

QCoro::Task<SecretStore::Result> KeychainSecretStore::read(QString key) {
    auto *job = new QKeychain::ReadPasswordJob(m_service);
    job->setKey(key);
    co_return co_await runJob(job);
}

QCoro::Task<SecretStore::Result> KeychainSecretStore::write(QString key, QString value) {
    auto *job = new QKeychain::WritePasswordJob(m_service);
    job->setKey(key);
    job->setTextData(value);
    co_return co_await runJob(job);
}

QCoro::Task<SecretStore::Result> KeychainSecretStore::remove(QString key) {
    auto *job = new QKeychain::DeletePasswordJob(m_service);
    job->setKey(key);
    Result result = co_await runJob(job);
    if (result.status == Status::NotFound)
        result.status = Status::Ok;
    co_return result;
}

} // namespace daybrook

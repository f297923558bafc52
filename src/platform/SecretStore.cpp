#include "platform/SecretStore.h"

#include "core/Logging.h"

#include <QCoroSignal>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <memory>
#include <qt6keychain/keychain.h>

namespace daybrook {

namespace {

// Longer than D-Bus's own 25-second call time-out, so that a real answer
// (even an error) always wins.
constexpr std::chrono::seconds answerTimeout{30};
constexpr int dbusTimeoutMs = 25000;

const QString secretsService = QStringLiteral("org.freedesktop.secrets");
const QString secretsPath = QStringLiteral("/org/freedesktop/secrets");
const QString secretsInterface = QStringLiteral("org.freedesktop.Secret.Service");

SecretStore::Result unavailable(const QString &message) {
    return {SecretStore::Status::Unavailable, {}, message};
}

// Starts the job on the next turn of the event loop, after the caller is
// already waiting for its finished signal: a job may finish inside start().
QCoro::Task<SecretStore::Result> runJob(QKeychain::Job *job) {
    job->setAutoDelete(false);
    job->setInsecureFallback(false);
    QTimer::singleShot(0, job, [job] { job->start(); });
    const auto finished = co_await qCoro(job, &QKeychain::Job::finished, answerTimeout);

    SecretStore::Result result;
    if (!finished) {
        // The job cleans up after itself if it ever ends.
        job->setAutoDelete(true);
        co_return unavailable(QStringLiteral("the secret service did not answer"));
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
    case QKeychain::NoBackendAvailable:
        result.status = SecretStore::Status::Missing;
        result.message = job->errorString();
        break;
    default:
        result.status = SecretStore::Status::Unavailable;
        result.message = job->errorString();
        break;
    }
    job->deleteLater();
    co_return result;
}

struct Search {
    enum class Outcome { Answered, NoService, Failed } outcome = Outcome::Failed;
    QList<QDBusObjectPath> unlocked, locked;
    QString message;
};

// Where the Secret Service keeps the items for one key, without opening
// anything: a search sees locked items too, and never prompts.
QCoro::Task<Search> searchItems(QString service, QString key) {
    static const QMetaType registered = qDBusRegisterMetaType<QMap<QString, QString>>();
    Q_UNUSED(registered);
    QDBusMessage call = QDBusMessage::createMethodCall(secretsService, secretsPath, secretsInterface,
                                                       QStringLiteral("SearchItems"));
    const QMap<QString, QString> attributes{{QStringLiteral("server"), service},
                                            {QStringLiteral("user"), key}};
    call << QVariant::fromValue(attributes);
    auto watcher = std::make_unique<QDBusPendingCallWatcher>(
        QDBusConnection::sessionBus().asyncCall(call, dbusTimeoutMs));
    co_await qCoro(watcher.get(), &QDBusPendingCallWatcher::finished);
    const QDBusPendingReply<QList<QDBusObjectPath>, QList<QDBusObjectPath>> reply = *watcher;
    Search search;
    if (reply.isError()) {
        const QString name = reply.error().name();
        search.outcome = name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
                                 name == QLatin1String("org.freedesktop.DBus.Error.Disconnected")
                             ? Search::Outcome::NoService
                             : Search::Outcome::Failed;
        search.message = reply.error().message();
        co_return search;
    }
    search.outcome = Search::Outcome::Answered;
    search.unlocked = reply.argumentAt<0>();
    search.locked = reply.argumentAt<1>();
    co_return search;
}

// Asks the keyring to show its unlock prompt, and does not wait for the user:
// the caller looks again later.
void requestUnlock(const QList<QDBusObjectPath> &items) {
    QDBusMessage call = QDBusMessage::createMethodCall(secretsService, secretsPath, secretsInterface,
                                                       QStringLiteral("Unlock"));
    call << QVariant::fromValue(items);
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, dbusTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [](QDBusPendingCallWatcher *self) {
        self->deleteLater();
        const QDBusPendingReply<QList<QDBusObjectPath>, QDBusObjectPath> reply = *self;
        if (reply.isError() || reply.argumentAt<1>().path() == QLatin1String("/"))
            return;
        QDBusMessage prompt = QDBusMessage::createMethodCall(secretsService, reply.argumentAt<1>().path(),
                                                             QStringLiteral("org.freedesktop.Secret.Prompt"),
                                                             QStringLiteral("Prompt"));
        prompt << QString();
        QDBusConnection::sessionBus().asyncCall(prompt);
    });
}

} // namespace

KeychainSecretStore::KeychainSecretStore(QString service) : m_service(std::move(service)) {}

// A read through QtKeychain alone cannot tell "nothing stored" from "stored in
// a locked keyring whose prompt was dismissed": both come back empty. The
// search tells them apart, so that only a keyring that is open and holds
// nothing answers NotFound.
QCoro::Task<SecretStore::Result> KeychainSecretStore::read(QString key) {
    const Search search = co_await searchItems(m_service, key);
    if (search.outcome == Search::Outcome::Failed)
        co_return unavailable(search.message);
    if (search.outcome == Search::Outcome::Answered) {
        if (search.unlocked.isEmpty() && !search.locked.isEmpty()) {
            qCDebug(lcApp) << "secret store: the item is locked; waiting for an unlock";
            if (!std::exchange(m_askedToUnlock, true))
                requestUnlock(search.locked);
            co_return unavailable(QStringLiteral("the keyring is locked"));
        }
        if (search.unlocked.isEmpty())
            co_return Result{Status::NotFound, {}, {}};
    }
    auto *job = new QKeychain::ReadPasswordJob(m_service);
    job->setKey(key);
    Result result = co_await runJob(job);
    // The search found it: "not found" now means it was locked again meanwhile.
    if (search.outcome == Search::Outcome::Answered && result.status == Status::NotFound)
        result = unavailable(QStringLiteral("the keyring did not hand out the item"));
    // No Secret Service on the bus and no other store answering: waiting for
    // one would show "waiting" for ever.
    if (search.outcome == Search::Outcome::NoService && result.status == Status::Unavailable)
        result.status = Status::Missing;
    co_return result;
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

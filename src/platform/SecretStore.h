#pragma once

#include <QCoroTask>
#include <QString>

namespace daybrook {

// A small store of secrets under one service name, keyed by text. Every
// operation is asynchronous: the desktop's secret service may take its time
// (or never answer), and the UI thread must not wait for it.
class SecretStore {
public:
    enum class Status {
        Ok,
        NotFound, // read: the store is open and holds nothing under that key
        // The answer is not known yet: the store is locked, its unlock prompt
        // was dismissed or is still waiting for the user, or it did not answer
        // in time. Asking again later may succeed; this never means "empty".
        Unavailable,
        Missing, // the desktop has no secret store at all: nothing can be kept
    };
    struct Result {
        Status status = Status::Ok;
        QString value;   // the secret, for a successful read
        QString message; // why, for Unavailable and Missing
    };

    virtual ~SecretStore() = default;

    virtual QCoro::Task<Result> read(QString key) = 0;
    virtual QCoro::Task<Result> write(QString key, QString value) = 0;
    // Deleting a key that holds nothing succeeds.
    virtual QCoro::Task<Result> remove(QString key) = 0;
};

// The desktop's Secret Service (gnome-keyring, KWallet) through QtKeychain.
// Items carry the service name and the key, so they can be found with
// `secret-tool lookup server SERVICE user KEY`.
class KeychainSecretStore : public SecretStore {
public:
    explicit KeychainSecretStore(QString service);

    QCoro::Task<Result> read(QString key) override;
    QCoro::Task<Result> write(QString key, QString value) override;
    QCoro::Task<Result> remove(QString key) override;

private:
    QString m_service;
    bool m_askedToUnlock = false;
};

} // namespace daybrook

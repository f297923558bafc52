#pragma once

#include "platform/SecretStore.h"

#include <QMap>
#include <QStringList>

namespace daybrook::test {

// Keeps secrets in memory, answering on a later turn of the event loop as a
// real secret service does, and records every operation in order. While
// `failure` is other than Ok, every operation answers with it (a locked or
// missing keyring).
class MemorySecretStore : public SecretStore {
public:
    QMap<QString, QString> items;
    QStringList operations;
    Status failure = Status::Ok;

    QCoro::Task<Result> read(QString key) override { return run(QStringLiteral("read"), key, {}); }
    QCoro::Task<Result> write(QString key, QString value) override {
        return run(QStringLiteral("write"), key, value);
    }
    QCoro::Task<Result> remove(QString key) override { return run(QStringLiteral("remove"), key, {}); }

private:
    QCoro::Task<Result> run(QString operation, QString key, QString value);
};

} // namespace daybrook::test

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

    QCoro::Task<Result> read(QString key) override;
    QCoro::Task<Result> write(QString key, QString value) override;
    QCoro::Task<Result> remove(QString key) override;

private:
    QCoro::Task<bool> answer(QString operation);
};

} // namespace daybrook::test

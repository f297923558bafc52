#pragma once

#include "platform/SecretStore.h"

#include <QMap>
#include <QStringList>

namespace daybrook::test {

// Keeps secrets in memory, answering on a later turn of the event loop as a
// real secret service does, and records every operation in order. With
// `available` false every operation fails as an unreachable service would.
class MemorySecretStore : public SecretStore {
public:
    QMap<QString, QString> items;
    QStringList operations;
    bool available = true;

    QCoro::Task<Result> read(QString key) override;
    QCoro::Task<Result> write(QString key, QString value) override;
    QCoro::Task<Result> remove(QString key) override;
};

} // namespace daybrook::test

#pragma once

#include "platform/SecretStore.h"

#include <QCoroTimer>
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
    // Parameters by value: the coroutine outlives its caller's arguments.
    QCoro::Task<Result> run(QString operation, QString key, QString value) {
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        operations << operation + QLatin1Char(' ') + key;
        if (failure != Status::Ok)
            co_return Result{failure, {}, QStringLiteral("test store failing")};
        if (operation == QLatin1String("write"))
            items.insert(key, value);
        else if (operation == QLatin1String("remove"))
            items.remove(key);
        else if (!items.contains(key))
            co_return Result{Status::NotFound, {}, {}};
        co_return Result{Status::Ok, items.value(key), {}};
    }
};

} // namespace daybrook::test

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

    QCoro::Task<Result> read(QString key) override { return run("read", key, {}); }
    QCoro::Task<Result> write(QString key, QString value) override { return run("write", key, value); }
    QCoro::Task<Result> remove(QString key) override { return run("remove", key, {}); }

private:
    // Parameters by value: the coroutine outlives its caller's arguments.
    QCoro::Task<Result> run(QString operation, QString key, QString value) {
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        operations << operation + ' ' + key;
        if (failure != Status::Ok)
            co_return Result{failure, {}, QStringLiteral("test store failing")};
        if (operation == "write")
            items.insert(key, value);
        else if (operation == "remove")
            items.remove(key);
        else if (!items.contains(key))
            co_return Result{Status::NotFound, {}, {}};
        co_return Result{Status::Ok, items.value(key), {}};
    }
};

} // namespace daybrook::test

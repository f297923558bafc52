#include "support/MemorySecretStore.h"

#include <QCoroTimer>

using namespace std::chrono_literals;

namespace daybrook::test {

QCoro::Task<bool> MemorySecretStore::answer(QString operation) {
    co_await QCoro::sleepFor(1ms);
    operations << operation;
    co_return failure == Status::Ok;
}

QCoro::Task<SecretStore::Result> MemorySecretStore::read(QString key) {
    const bool ok = co_await answer(QStringLiteral("read ") + key);
    if (!ok)
        co_return Result{failure, {}, QStringLiteral("test store failing")};
    if (!items.contains(key))
        co_return Result{Status::NotFound, {}, {}};
    co_return Result{Status::Ok, items.value(key), {}};
}

QCoro::Task<SecretStore::Result> MemorySecretStore::write(QString key, QString value) {
    const bool ok = co_await answer(QStringLiteral("write ") + key);
    if (!ok)
        co_return Result{failure, {}, QStringLiteral("test store failing")};
    items.insert(key, value);
    co_return Result{};
}

QCoro::Task<SecretStore::Result> MemorySecretStore::remove(QString key) {
    const bool ok = co_await answer(QStringLiteral("remove ") + key);
    if (!ok)
        co_return Result{failure, {}, QStringLiteral("test store failing")};
    items.remove(key);
    co_return Result{};
}

} // namespace daybrook::test

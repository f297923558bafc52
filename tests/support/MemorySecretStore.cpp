#include "support/MemorySecretStore.h"

#include <QCoroTimer>

using namespace std::chrono_literals;

namespace daybrook::test {

QCoro::Task<SecretStore::Result> MemorySecretStore::read(QString key) {
    co_await QCoro::sleepFor(1ms);
    operations << QStringLiteral("read ") + key;
    if (!available)
        co_return Result{Status::Unavailable, {}, QStringLiteral("test store offline")};
    if (!items.contains(key))
        co_return Result{Status::NotFound, {}, {}};
    co_return Result{Status::Ok, items.value(key), {}};
}

QCoro::Task<SecretStore::Result> MemorySecretStore::write(QString key, QString value) {
    co_await QCoro::sleepFor(1ms);
    operations << QStringLiteral("write ") + key;
    if (!available)
        co_return Result{Status::Unavailable, {}, QStringLiteral("test store offline")};
    items.insert(key, value);
    co_return Result{};
}

QCoro::Task<SecretStore::Result> MemorySecretStore::remove(QString key) {
    co_await QCoro::sleepFor(1ms);
    operations << QStringLiteral("remove ") + key;
    if (!available)
        co_return Result{Status::Unavailable, {}, QStringLiteral("test store offline")};
    items.remove(key);
    co_return Result{};
}

} // namespace daybrook::test

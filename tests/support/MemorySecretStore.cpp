#include "support/MemorySecretStore.h"

#include <QCoroTimer>

using namespace std::chrono_literals;

namespace daybrook::test {

QCoro::Task<SecretStore::Result> MemorySecretStore::run(QString operation, QString key, QString value) {
    co_await QCoro::sleepFor(1ms);
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

} // namespace daybrook::test

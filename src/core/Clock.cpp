#include "core/Clock.h"

namespace daybrook {

namespace {
Clock::NowFunction & override() {
    static Clock::NowFunction function;
    return function;
}
} // namespace

QDateTime Clock::now() {
    if (const auto &function = override())
        return function().toUTC();
    return QDateTime::currentDateTimeUtc();
}

void Clock::setNowFunction(NowFunction function) {
    override() = std::move(function);
}

void Clock::freezeAt(const QDateTime &instant) {
    const QDateTime frozen = instant.toUTC();
    setNowFunction([frozen] { return frozen; });
}

} // namespace daybrook

#pragma once

#include <QDateTime>
#include <functional>

namespace daybrook {

// The one source of "now" for the whole program. Tests replace it to set the
// present moment; production code never reads the wall clock any other way.
class Clock {
public:
    using NowFunction = std::function<QDateTime()>;

    // The current instant, in UTC.
    static QDateTime now();
    static qint64 nowMSecs() { return now().toMSecsSinceEpoch(); }

    // Installs a replacement (an empty function restores the system clock).
    static void setNowFunction(NowFunction function);
    // Convenience for tests: a clock frozen at the given instant.
    static void freezeAt(const QDateTime &instant);
    static void reset() { setNowFunction({}); }
};

} // namespace daybrook

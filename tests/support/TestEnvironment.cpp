#include "support/TestEnvironment.h"

#include "core/Clock.h"
#include "core/UserDefaults.h"

#include <QFile>
#include <QStandardPaths>
#include <cstdlib>
#include <ctime>

namespace daybrook::test {

void resetUserDefaults() {
    // Refuse to touch a real configuration: the runner always sets a temporary one.
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (!config.contains(QLatin1String("daybrook-test")))
        qFatal("tests must run through tests/support/run-test.sh (config folder is %s)", qPrintable(config));
    UserDefaults::reload();
    QFile::remove(UserDefaults::filePath());
    UserDefaults::reload();
}

QDateTime localTime(int hour, int minute, int second, QDate date) {
    const QDate day = date.isValid() ? date : Clock::now().toLocalTime().date();
    return QDateTime(day, QTime(hour, minute, second), Qt::LocalTime).toUTC();
}

TimeEntry barEntry(QAnyStringView id, int from, int to, const char *colour, const QString &label) {
    const auto time = [](int hhmm) { return localTime(hhmm / 100, hhmm % 100, 0, barDay); };
    return CalendarEntry{id.toString(),
                         time(from),
                         to < 0 ? std::nullopt : std::optional(time(to)),
                         label,
                         hexColor(QString::fromLatin1(colour)),
                         std::nullopt};
}

void setTimeZone(const QByteArray &tz) {
    qputenv("TZ", tz);
    ::tzset();
}

QSet<QString> storedStringSet(const QString &key) {
    UserDefaults::reload();
    const std::optional<QStringList> stored = UserDefaults::stringListValue(key);
    return stored ? QSet<QString>(stored->cbegin(), stored->cend()) : QSet<QString>{"<absent>"};
}

} // namespace daybrook::test

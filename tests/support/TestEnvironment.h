#pragma once

#include "core/TimeEntry.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QTimeZone>

namespace daybrook::test {

// Starts every test from an empty user-defaults store in the private config
// folder that the test runner created (never the real home folder).
void resetUserDefaults();

// Local wall-clock time today (or on the given date) as a UTC instant.
QDateTime localTime(int hour, int minute = 0, int second = 0, QDate date = QDate());

// The day the bar tests draw, and a calendar entry on it: from and to as hhmm
// local time, to < 0 for one still running.
inline const QDate barDay(2026, 6, 10);
TimeEntry barEntry(QAnyStringView id, int from, int to, const char *colour = "#4285F4",
                   const QString &label = {});

// Sets the process time zone (TZ) and makes Qt pick it up.
void setTimeZone(const QByteArray &tz);

// The list stored under `key` as the next start of the program would read it
// back, as a set; {"<absent>"} when nothing is stored there.
QSet<QString> storedStringSet(const QString &key);

} // namespace daybrook::test

#include "state/DataSource.h"

#include <QHash>
#include <QSet>
#include <ctime>

namespace daybrook {

namespace {

qint64 floorDiv(qint64 value, qint64 divisor) {
    qint64 quotient = value / divisor;
    if (value % divisor < 0)
        --quotient;
    return quotient;
}

// The instant at which the local minute containing `time` began. Working from
// the zone offset of the instant itself (rather than rebuilding the instant
// from wall-clock fields) keeps the repeated hour at the end of summer time
// unambiguous, and is cheap enough for every rebuild.
qint64 localMinuteStart(const QDateTime &time) {
    const qint64 seconds = floorDiv(time.toMSecsSinceEpoch(), 1000);
    const std::time_t instant = std::time_t(seconds);
    std::tm local{};
    if (!localtime_r(&instant, &local))
        return seconds;
    const qint64 offset = local.tm_gmtoff;
    return floorDiv(seconds + offset, 60) * 60 - offset;
}

} // namespace

QString matchKey(const TimeEntry &entry) {
    return entry.label() + QLatin1Char('|') + QString::number(localMinuteStart(entry.startTime()));
}

namespace {

// Text below U+0300 is already in composed form (every combining mark and
// every character with a singleton decomposition lies above), which spares
// the common case a copy.
QString composed(const QString &text) {
    for (const QChar c : text)
        if (c.unicode() >= 0x300)
            return text.normalized(QString::NormalizationForm_C);
    return text;
}

// matchKey in parts, with the label in composed form: equal exactly when the
// normalized texts of the two keys are equal, without building the text.
using MergeKey = std::pair<QString, qint64>;

MergeKey mergeKey(const TimeEntry &entry) {
    return {composed(entry.label()), localMinuteStart(entry.startTime())};
}

} // namespace

QString normalizedMatchKey(const TimeEntry &entry) {
    return matchKey(entry).normalized(QString::NormalizationForm_C);
}

TimeEntryList mergeEntries(const TimeEntryList &todoist, const TimeEntryList &calendar) {
    TimeEntryList result;
    result.reserve(calendar.size() + todoist.size());

    std::vector<MergeKey> taskKeys;
    taskKeys.reserve(size_t(todoist.size()));
    QHash<MergeKey, qsizetype> taskByKey;
    taskByKey.reserve(todoist.size());
    for (qsizetype i = 0; i < todoist.size(); ++i) {
        taskKeys.push_back(mergeKey(todoist[i]));
        taskByKey.insert(taskKeys.back(), i); // a later task replaces an earlier one
    }

    QSet<MergeKey> matched;
    for (const TimeEntry &entry : calendar) {
        if (!taskByKey.isEmpty()) {
            MergeKey key = mergeKey(entry);
            const auto found = taskByKey.constFind(key);
            if (found != taskByKey.cend()) {
                const auto *task = todoist[*found].as<TodoistEntry>();
                const auto *event = entry.as<CalendarEntry>();
                if (task && event) {
                    result.append(TimeEntry(CombinedEntry{*task, *event}));
                    matched.insert(std::move(key));
                    continue;
                }
            }
        }
        result.append(entry);
    }
    for (qsizetype i = 0; i < todoist.size(); ++i)
        if (matched.isEmpty() || !matched.contains(taskKeys[size_t(i)]))
            result.append(todoist[i]);
    return result;
}

DataSource::DataSource(std::unique_ptr<CalendarService> calendar, std::unique_ptr<TodoistService> todoist,
                       QObject *parent)
    : QObject(parent),
      m_calendarService(calendar ? std::move(calendar) : std::make_unique<CalendarService>()),
      m_todoistService(todoist ? std::move(todoist) : std::make_unique<TodoistService>()) {
    watchServices();
    refresh();
}

DataSource::~DataSource() = default;

void DataSource::watchServices() {
    CalendarService *calendar = m_calendarService.get();
    TodoistService *todoist = m_todoistService.get();
    connect(calendar, &CalendarService::eventsChanged, this, &DataSource::scheduleRebuild);
    connect(calendar, &CalendarService::authorizationStatusChanged, this, &DataSource::scheduleRebuild);
    connect(calendar, &CalendarService::isEnabledChanged, this, &DataSource::scheduleRebuild);
    connect(calendar, &CalendarService::disabledCalendarIdsChanged, this, &DataSource::scheduleRebuild);
    connect(todoist, &TodoistService::tasksChanged, this, &DataSource::scheduleRebuild);
    connect(todoist, &TodoistService::accessTokenChanged, this, &DataSource::scheduleRebuild);
    connect(todoist, &TodoistService::disabledProjectIdsChanged, this, &DataSource::scheduleRebuild);
}

void DataSource::scheduleRebuild() {
    // One rebuild per burst of changes, after the burst's turn of the event
    // loop; it sees every change made before it runs.
    if (m_rebuildScheduled)
        return;
    m_rebuildScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_rebuildScheduled = false;
            rebuildTimeEntries();
        },
        Qt::QueuedConnection);
}

void DataSource::rebuildTimeEntries() {
    if (!m_calendarService || !m_todoistService)
        return;
    const TimeEntryList todoist = m_todoistService->toTimeEntries();
    const TimeEntryList calendar = m_calendarService->isEnabled()
                                       ? m_calendarService->timeEntries(m_calendarService->events())
                                       : TimeEntryList{};
    m_timeEntries = mergeEntries(todoist, calendar);
    Q_EMIT timeEntriesChanged();
}

QCoro::Task<> DataSource::refresh() {
    // No member is touched after the first suspension.
    CalendarService *calendar = m_calendarService.get();
    TodoistService *todoist = m_todoistService.get();
    if (!calendar || !todoist)
        co_return;
    auto calendarFetch = calendar->fetchEvents();
    auto todoistFetch = todoist->fetchAll();
    co_await calendarFetch;
    co_await todoistFetch;
}

} // namespace daybrook

#include "calendar/CalendarService.h"

#include "core/Clock.h"
#include "core/Logging.h"
#include "core/UserDefaults.h"
#include "platform/CalendarStore.h"

#include <QColor>
#include <QCoroNetworkReply>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <algorithm>
#include <coroutine>
#include <cstdio>

namespace daybrook {

namespace {

// The name and the kind of a feed are in its first lines; reading no further
// keeps the check quick and its cost independent of the calendar's size.
constexpr qsizetype feedHeadBytes = 64 * 1024;
constexpr int feedCheckTimeoutMs = 20000;
constexpr int feedRefreshMinutes = 30;
constexpr qsizetype maxNameLength = 100;

// Colours for subscribed calendars, each used before any repeats.
const char *const feedColors[] = {"#3584e4", "#2ec27e", "#e66100", "#9141ac",
                                  "#c01c28", "#986a44", "#f5c211"};

} // namespace

std::optional<QUrl> calendarFeedAddress(const QString &typed) {
    const QString trimmed = typed.trimmed();
    if (trimmed.isEmpty() || trimmed.contains(QLatin1Char(' ')))
        return std::nullopt;
    QUrl url(trimmed, QUrl::StrictMode);
    if (url.scheme().isEmpty())
        url = QUrl(QStringLiteral("https://") + trimmed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("webcal") || scheme == QLatin1String("webcals"))
        url.setScheme(QStringLiteral("https"));
    else if (scheme != QLatin1String("https") && scheme != QLatin1String("http"))
        return std::nullopt;
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return url;
}

bool looksLikeICalendar(const QByteArray &head) {
    QByteArray start = head.left(64);
    if (start.startsWith("\xEF\xBB\xBF"))
        start.remove(0, 3);
    return start.trimmed().toUpper().startsWith("BEGIN:VCALENDAR");
}

QString feedCalendarName(const QByteArray &head) {
    // Content lines may be folded: a line break followed by a blank continues the line.
    QByteArray unfolded = head;
    unfolded.replace("\r\n ", "").replace("\r\n\t", "").replace("\n ", "").replace("\n\t", "");
    for (const QByteArray &rawLine : unfolded.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.toUpper().startsWith("BEGIN:VEVENT"))
            break; // calendar properties come before the first event
        if (!line.toUpper().startsWith("X-WR-CALNAME"))
            continue;
        const qsizetype colon = line.indexOf(':');
        const char next = line.size() > 12 ? line.at(12) : '\0';
        if (colon < 0 || (next != ':' && next != ';'))
            continue;
        QString name = QString::fromUtf8(line.mid(colon + 1));
        name.replace(QLatin1String("\\n"), QLatin1String(" "))
            .replace(QLatin1String("\\N"), QLatin1String(" "))
            .replace(QLatin1String("\\,"), QLatin1String(","))
            .replace(QLatin1String("\\;"), QLatin1String(";"))
            .replace(QLatin1String("\\\\"), QLatin1String("\\"));
        return name.simplified().left(maxNameLength);
    }
    return {};
}

// Access for the awaiter below to the service's list of waits.
class StoreWaits {
public:
    static quint64 add(CalendarService *service, std::function<void()> abandon) {
        const quint64 id = ++service->m_nextStoreWait;
        service->m_storeWaits.emplace(id, std::move(abandon));
        return id;
    }
    static void remove(CalendarService *service, quint64 id) { service->m_storeWaits.erase(id); }
};

namespace {

// Suspends a coroutine until a store operation calls back. The store never
// calls back from inside the call. When the service goes first, its destructor
// ends the wait with an empty (failed) result; the coroutine then sees the
// service gone and returns, so its frame is freed.
template <typename Result> class StoreAwaiter {
public:
    using Start = std::function<void(std::function<void(Result)>)>;
    StoreAwaiter(CalendarService *service, Start start) : m_service(service), m_start(std::move(start)) {}

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle) {
        CalendarService *service = m_service;
        m_wait = StoreWaits::add(service, [this, handle] {
            m_result = Result{};
            handle.resume();
        });
        m_start([this, service, handle](Result result) {
            StoreWaits::remove(service, m_wait);
            m_result = std::move(result);
            handle.resume();
        });
    }
    Result await_resume() { return std::move(*m_result); }

private:
    CalendarService *m_service;
    Start m_start;
    quint64 m_wait = 0;
    std::optional<Result> m_result;
};

std::optional<Color> parseColor(const QString &text) {
    if (text.isEmpty())
        return std::nullopt;
    const QColor color = QColor::fromString(text);
    if (!color.isValid())
        return std::nullopt;
    const QColor rgb = color.toRgb();
    return Color::rgb(rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF());
}

Calendar toCalendar(const StoreCalendar &stored) {
    Calendar calendar;
    calendar.identifier = stored.uid;
    calendar.title = stored.displayName;
    calendar.color = parseColor(stored.color);
    if (stored.accountUid)
        calendar.source = CalendarSource{*stored.accountUid, stored.accountName};
    calendar.addedByApp = stored.addedByApp;
    return calendar;
}

QList<CalendarEvent> toEvents(const StoreFetchResult &result) {
    QHash<QString, std::shared_ptr<const Calendar>> calendars;
    for (const StoreCalendar &stored : result.calendars)
        calendars.insert(stored.uid, std::make_shared<const Calendar>(toCalendar(stored)));

    QList<CalendarEvent> events;
    events.reserve(result.instances.size());
    QSet<QString> identifiers;
    for (const StoreInstance &instance : result.instances) {
        CalendarEvent event;
        event.identifier = instance.recurrenceId.isEmpty()
                               ? instance.uid
                               : instance.uid + QLatin1Char('/') + instance.recurrenceId;
        // The same invitation kept in two calendars has one UID; the bar needs
        // one identity per item it shows.
        if (identifiers.contains(event.identifier))
            event.identifier += QLatin1Char('@') + instance.calendarUid;
        identifiers.insert(event.identifier);
        event.startDate = instance.start;
        event.endDate = instance.end;
        event.isAllDay = instance.startIsDate;
        event.calendar = calendars.value(instance.calendarUid);
        event.title = instance.summary;
        events.append(std::move(event));
    }
    return events;
}

QString feedError(QNetworkReply *reply, const QUrl &url) {
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400) {
        const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
        return QStringLiteral("The server has no calendar at this address (HTTP %1%2).")
            .arg(status)
            .arg(reason.isEmpty() ? QString() : QLatin1Char(' ') + reason);
    }
    switch (reply->error()) {
    case QNetworkReply::NoError:
        return {};
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("The server %1 could not be found. Check the address and your connection.")
            .arg(url.host());
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("A secure connection to %1 could not be made: %2")
            .arg(url.host(), reply->errorString());
    case QNetworkReply::OperationCanceledError:
    case QNetworkReply::TimeoutError:
        return QStringLiteral("The server %1 did not answer in time.").arg(url.host());
    default:
        return QStringLiteral("Could not connect to %1: %2").arg(url.host(), reply->errorString());
    }
}

void printLine(const QString &line) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

CalendarService::CalendarService(QObject *parent) : CalendarService(createEdsCalendarStore(), parent) {}

CalendarService::CalendarService(std::unique_ptr<CalendarStore> store, QObject *parent)
    : QObject(parent), m_store(std::move(store)) {
    m_isEnabled = UserDefaults::boolValue(QLatin1String(enabledKey)).value_or(true);
    const QStringList disabled =
        UserDefaults::stringListValue(QLatin1String(disabledCalendarsKey)).value_or(QStringList{});
    m_disabledCalendarIds = QSet<QString>(disabled.begin(), disabled.end());

    m_changeTimer.setSingleShot(true);
    m_changeTimer.setInterval(2000);
    connect(&m_changeTimer, &QTimer::timeout, this, [this] {
        if (m_isEnabled && m_authorizationStatus == CalendarAuthorization::FullAccess)
            fetchEvents();
    });
    if (m_store)
        connect(m_store.get(), &CalendarStore::changed, this, &CalendarService::storeChanged);

    checkAuthorizationStatus();
}

CalendarService::~CalendarService() {
    *m_alive = false;
    // End every wait on the store before it goes; each resumed coroutine sees
    // the service gone and returns at once.
    auto waits = std::move(m_storeWaits);
    m_storeWaits.clear();
    for (auto &[id, abandon] : waits)
        abandon();
}

bool CalendarService::hasConsent() const {
    return m_store && UserDefaults::boolValue(QLatin1String(consentKey)).value_or(false);
}

void CalendarService::setIsEnabled(bool enabled) {
    m_isEnabled = enabled;
    UserDefaults::setValue(QLatin1String(enabledKey), enabled);
    Q_EMIT isEnabledChanged();
}

void CalendarService::setAuthorizationStatus(CalendarAuthorization status, bool fetchWhenGranted) {
    const CalendarAuthorization previous = m_authorizationStatus;
    m_authorizationStatus = status;
    Q_EMIT authorizationStatusChanged();
    if (fetchWhenGranted && previous != CalendarAuthorization::FullAccess &&
        status == CalendarAuthorization::FullAccess)
        fetchEvents();
}

void CalendarService::setIsLoading(bool loading) {
    m_isLoading = loading;
    Q_EMIT isLoadingChanged();
}

void CalendarService::setEvents(QList<CalendarEvent> events) {
    m_events = std::move(events);
    Q_EMIT eventsChanged();
}

void CalendarService::checkAuthorizationStatus() {
    if (!hasConsent()) {
        setAuthorizationStatus(CalendarAuthorization::NotDetermined, true);
        return;
    }
    if (m_store->isOpen()) {
        setAuthorizationStatus(CalendarAuthorization::FullAccess, true);
        return;
    }
    // The store answers later; the state moves when it does.
    m_store->open([self = QPointer<CalendarService>(this)](StoreOpenResult opened) {
        if (self)
            self->setAuthorizationStatus(
                opened.ok ? CalendarAuthorization::FullAccess : CalendarAuthorization::Restricted, true);
    });
}

QCoro::Task<bool> CalendarService::requestAccess() {
    if (!m_store) {
        printLine(QStringLiteral("Calendar access error: no calendar store"));
        co_return false;
    }
    UserDefaults::setValue(QLatin1String(consentKey), true);
    CalendarStore *store = m_store.get();
    const std::shared_ptr<bool> alive = m_alive;
    const StoreOpenResult opened = co_await StoreAwaiter<StoreOpenResult>(
        this, [store](std::function<void(StoreOpenResult)> done) { store->open(std::move(done)); });
    if (!*alive)
        co_return false;
    if (!opened.ok) {
        printLine(QStringLiteral("Calendar access error: ") + opened.error);
        // The user said yes; what is missing is the service, and the settings
        // row says so (and offers to try again) rather than staying unconnected.
        setAuthorizationStatus(CalendarAuthorization::Restricted, false);
        co_return false;
    }
    checkAuthorizationStatus();
    co_return true;
}

void CalendarService::enable() {
    setIsEnabled(true);
    if (m_authorizationStatus == CalendarAuthorization::FullAccess)
        fetchEvents();
}

void CalendarService::disconnect() {
    setIsEnabled(false);
    setEvents({});
    m_disabledCalendarIds.clear();
    Q_EMIT disabledCalendarIdsChanged();
    UserDefaults::remove(QLatin1String(disabledCalendarsKey));
}

void CalendarService::setCalendar(const QString &identifier, bool enabled) {
    if (enabled)
        m_disabledCalendarIds.remove(identifier);
    else
        m_disabledCalendarIds.insert(identifier);
    Q_EMIT disabledCalendarIdsChanged();
    persistDisabledCalendars();
}

void CalendarService::setCalendars(const QList<Calendar> &calendars, bool enabled) {
    for (const Calendar &calendar : calendars) {
        if (enabled)
            m_disabledCalendarIds.remove(calendar.identifier);
        else
            m_disabledCalendarIds.insert(calendar.identifier);
        Q_EMIT disabledCalendarIdsChanged();
    }
    persistDisabledCalendars();
}

void CalendarService::persistDisabledCalendars() {
    QStringList identifiers(m_disabledCalendarIds.begin(), m_disabledCalendarIds.end());
    identifiers.sort();
    UserDefaults::setValue(QLatin1String(disabledCalendarsKey), identifiers);
}

QList<CalendarGroup> CalendarService::calendarsBySource() const {
    QList<CalendarGroup> groups;
    if (m_authorizationStatus != CalendarAuthorization::FullAccess || !m_store)
        return groups;
    for (const StoreCalendar &stored : m_store->calendars()) {
        Calendar calendar = toCalendar(stored);
        const std::optional<QString> key =
            calendar.source ? std::optional<QString>(calendar.source->identifier) : std::nullopt;
        auto group = std::find_if(groups.begin(), groups.end(), [&](const CalendarGroup &g) {
            return (g.source ? std::optional<QString>(g.source->identifier) : std::nullopt) == key;
        });
        if (group == groups.end()) {
            groups.append(CalendarGroup{calendar.source, {}});
            group = groups.end() - 1;
        }
        group->calendars.append(std::move(calendar));
    }
    for (CalendarGroup &group : groups)
        std::stable_sort(group.calendars.begin(), group.calendars.end(),
                         [](const Calendar &a, const Calendar &b) { return a.title < b.title; });
    const auto title = [](const CalendarGroup &g) { return g.source ? g.source->title : QString(); };
    std::stable_sort(groups.begin(), groups.end(),
                     [&](const CalendarGroup &a, const CalendarGroup &b) { return title(a) < title(b); });
    return groups;
}

QCoro::Task<> CalendarService::fetchEvents() {
    if (!m_isEnabled || !hasConsent())
        co_return;
    CalendarStore *store = m_store.get();
    const std::shared_ptr<bool> alive = m_alive;

    ++m_runningFetches;
    setIsLoading(true);

    bool reachable = m_authorizationStatus == CalendarAuthorization::FullAccess;
    if (!reachable) {
        // Not reached yet, or it went away: every fetch tries again.
        const StoreOpenResult opened = co_await StoreAwaiter<StoreOpenResult>(
            this, [store](std::function<void(StoreOpenResult)> done) { store->open(std::move(done)); });
        if (!*alive)
            co_return;
        reachable = opened.ok;
        if (!opened.ok)
            qCInfo(lcCalendar) << "calendar store unavailable:" << opened.error;
        // This fetch reads the events itself; no second one for the change.
        setAuthorizationStatus(
            reachable ? CalendarAuthorization::FullAccess : CalendarAuthorization::Restricted, false);
    }

    if (reachable) {
        const QDate today = Clock::now().toLocalTime().date();
        const QDateTime start = today.startOfDay().toUTC();
        const QDateTime end = today.addDays(1).startOfDay().toUTC();
        // Named: see addCalendarFromUrl.
        StoreAwaiter<StoreFetchResult> fetching(
            this, [store, start, end](std::function<void(StoreFetchResult)> done) {
                store->fetch(start, end, std::move(done));
            });
        const StoreFetchResult result = co_await fetching;
        if (!*alive)
            co_return;
        if (!result.reachable) {
            qCInfo(lcCalendar) << "cannot read the calendars:" << result.error;
            setAuthorizationStatus(CalendarAuthorization::Restricted, false);
        } else if (m_isEnabled && hasConsent()) {
            // Switched off while reading: the events stay cleared.
            QList<CalendarEvent> events = toEvents(result);
            std::stable_sort(events.begin(), events.end(),
                             [](const CalendarEvent &a, const CalendarEvent &b) {
                                 return a.startDate.value_or(QDateTime()) < b.startDate.value_or(QDateTime());
                             });
            setEvents(std::move(events));
        }
    }

    if (--m_runningFetches == 0)
        setIsLoading(false);
}

void CalendarService::storeChanged() {
    Q_EMIT calendarsChanged();
    // Coalesce: the first change of a burst starts the clock.
    if (!m_changeTimer.isActive())
        m_changeTimer.start();
}

QCoro::Task<> CalendarService::refresh() {
    if (m_isEnabled && hasConsent() && m_authorizationStatus == CalendarAuthorization::FullAccess) {
        CalendarStore *store = m_store.get();
        const std::shared_ptr<bool> alive = m_alive;
        setIsLoading(true);
        StoreAwaiter<QString> syncing(
            this, [store](std::function<void(QString)> done) { store->synchronize(std::move(done)); });
        const QString error = co_await syncing;
        if (!*alive)
            co_return;
        if (!error.isEmpty())
            qCDebug(lcCalendar) << "synchronising the calendars:" << error;
        if (m_runningFetches == 0)
            setIsLoading(false);
    }
    co_await fetchEvents();
}

QCoro::Task<AddCalendarResult> CalendarService::addCalendarFromUrl(QString typed) {
    const std::optional<QUrl> url = calendarFeedAddress(typed);
    if (!url)
        co_return AddCalendarResult{
            false, QStringLiteral("This is not a calendar address. Paste one that begins with https:// or "
                                  "webcal://, as your calendar's sharing settings show it.")};
    if (!m_store || m_authorizationStatus != CalendarAuthorization::FullAccess)
        co_return AddCalendarResult{false, QStringLiteral("The calendar service cannot be reached.")};

    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(*url);
    request.setTransferTimeout(feedCheckTimeoutMs);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Daybrook"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply *reply = m_network->get(request);
    auto head = std::make_shared<QByteArray>();
    auto enough = std::make_shared<bool>(false);
    connect(reply, &QNetworkReply::readyRead, reply, [reply, head, enough] {
        head->append(reply->read(feedHeadBytes - head->size()));
        if (head->size() >= feedHeadBytes && !*enough) {
            *enough = true;
            reply->abort();
        }
    });
    const std::shared_ptr<bool> alive = m_alive;
    co_await reply;
    if (!*alive)
        co_return AddCalendarResult{};
    reply->deleteLater();
    if (!*enough)
        head->append(reply->read(feedHeadBytes - head->size()));
    const QString error = *enough ? QString() : feedError(reply, *url);
    if (!error.isEmpty())
        co_return AddCalendarResult{false, error};
    if (!looksLikeICalendar(*head))
        co_return AddCalendarResult{
            false, QStringLiteral("The address did not give a calendar: the server sent something other than "
                                  "an iCalendar file.")};

    NewWebCalendar calendar;
    calendar.displayName = feedCalendarName(*head);
    if (calendar.displayName.isEmpty())
        calendar.displayName = url->host();
    calendar.address = *url;
    calendar.refreshMinutes = feedRefreshMinutes;
    QSet<QString> used;
    for (const StoreCalendar &existing : m_store->calendars())
        used.insert(existing.color.toLower());
    const auto colorCount = qsizetype(std::size(feedColors));
    calendar.color = QLatin1String(feedColors[qsizetype(m_store->calendars().size()) % colorCount]);
    for (const char *color : feedColors) {
        if (!used.contains(QLatin1String(color))) {
            calendar.color = QLatin1String(color);
            break;
        }
    }

    CalendarStore *store = m_store.get();
    // Named, not a temporary of the co_await: GCC 12 destroys the captures of
    // such temporaries twice.
    StoreAwaiter<QString> adding(this, [store, calendar](std::function<void(QString)> done) {
        store->addWebCalendar(calendar, std::move(done));
    });
    const QString added = co_await adding;
    if (!*alive)
        co_return AddCalendarResult{};
    if (!added.isEmpty())
        co_return AddCalendarResult{false, QStringLiteral("The calendar could not be added: ") + added};
    co_return AddCalendarResult{true, calendar.displayName};
}

QCoro::Task<QString> CalendarService::removeCalendar(QString identifier) {
    if (!m_store)
        co_return QStringLiteral("no calendar store");
    CalendarStore *store = m_store.get();
    const std::shared_ptr<bool> alive = m_alive;
    StoreAwaiter<QString> removing(this, [store, identifier](std::function<void(QString)> done) {
        store->removeCalendar(identifier, std::move(done));
    });
    const QString error = co_await removing;
    if (!*alive)
        co_return QStringLiteral("no calendar store");
    if (error.isEmpty()) {
        // A stale exclusion of a calendar that no longer exists helps nobody.
        if (m_disabledCalendarIds.remove(identifier)) {
            Q_EMIT disabledCalendarIdsChanged();
            persistDisabledCalendars();
        }
    }
    co_return error;
}

TimeEntryList CalendarService::timeEntries(const QList<CalendarEvent> &events) const {
    TimeEntryList entries;
    entries.reserve(events.size());
    for (const CalendarEvent &event : events)
        if (auto entry = makeEntry(event))
            entries.append(TimeEntry(std::move(*entry)));
    return entries;
}

std::optional<CalendarEntry> CalendarService::makeEntry(const CalendarEvent &event) const {
    if (!event.startDate || !event.endDate || event.isAllDay)
        return std::nullopt;
    if (event.calendar && m_disabledCalendarIds.contains(event.calendar->identifier))
        return std::nullopt;
    CalendarEntry entry;
    entry.id = event.identifier;
    entry.startTime = event.startDate->toUTC();
    entry.endTime = event.endDate->toUTC();
    entry.label = event.title.value_or(QStringLiteral("Event"));
    entry.color = event.calendar && event.calendar->color ? *event.calendar->color : standardBlue();
    if (event.calendar)
        entry.groupName = event.calendar->title;
    return entry;
}

} // namespace daybrook

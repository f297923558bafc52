#include "core/Logging.h"
#include "platform/CalendarStore.h"

#include <QPointer>
#include <QSet>
#include <QTimeZone>
#include <QTimer>
#include <algorithm>
#include <map>

#include <libecal/libecal.h>
#include <libedataserver/libedataserver.h>

// Evolution Data Server, kept off the UI thread's critical path: the registry,
// client connections and views are opened with GLib's asynchronous calls,
// whose callbacks run inside Qt's (GLib) event loop. Reading the events and
// expanding recurrences runs on a GLib worker thread: libecal's asynchronous
// expansion swallows errors and looks up time zones with blocking D-Bus calls
// on the calling thread, so a slow or dying server would freeze the bar.

namespace daybrook {

namespace {

// A fetch that has not finished after this long gives up; the next one starts
// from a fresh connection.
constexpr int fetchTimeoutMs = 15000;
// A registry that cannot start its server may wait for it indefinitely.
constexpr int openTimeoutMs = 10000;
// Not waiting for a remote calendar to come online: its cached events are
// read at once, and its view reports what the next synchronisation changes.
constexpr guint32 connectWaitSeconds = guint32(-1); // "do not wait"
constexpr const char *sourcesService = "org.gnome.evolution.dataserver.Sources5";
// Calendars subscribed to from the settings hang under a parent source of our
// own: that is how they are recognised (and the only ones removed), and the
// settings group them under its name like any other account.
constexpr const char *appParentUid = "daybrook-subscriptions";
constexpr const char *appParentName = "Added by Daybrook";
// Remote calendars that have not answered a refresh request by then are left
// to synchronise in the background.
constexpr int syncTimeoutMs = 20000;

QString text(const char *utf8) {
    return utf8 ? QString::fromUtf8(utf8) : QString();
}

QString errorText(const GError *error) {
    return error && error->message ? QString::fromUtf8(error->message) : QStringLiteral("unknown error");
}

bool isCancelled(const GError *error) {
    return error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

ICalTimezone *utcZone() {
    return i_cal_timezone_get_utc_timezone();
}

// The zone that date values and floating times are read in: the user's.
ICalTimezone *localZone() {
    const QByteArray id = QTimeZone::systemTimeZoneId();
    if (!id.isEmpty())
        if (ICalTimezone *zone = i_cal_timezone_get_builtin_timezone(id.constData()))
            return zone;
    return utcZone();
}

QByteArray isoUtc(qint64 secs) {
    return QDateTime::fromSecsSinceEpoch(secs, Qt::UTC)
        .toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"))
        .toUtf8();
}

QByteArray windowQuery(qint64 start, qint64 end, ICalTimezone *zone) {
    const char *location = i_cal_timezone_get_location(zone);
    QByteArray query =
        "(occur-in-time-range? (make-time \"" + isoUtc(start) + "\") (make-time \"" + isoUtc(end) + "\")";
    if (location && *location)
        query += " \"" + QByteArray(location) + "\"";
    return query + ")";
}

// ---- Expansion on the worker thread -----------------------------------------

struct ExpandJob {
    ECalClient *client = nullptr;
    QString calendarUid;
    qint64 start = 0;
    qint64 end = 0;
    ICalTimezone *zone = nullptr; // built-in, never freed
    QByteArray query;

    ~ExpandJob() {
        if (client)
            g_object_unref(client);
    }
};

qint64 toSeconds(ICalTime *time, ICalTimezone *fallback) {
    if (i_cal_time_is_utc(time))
        return i_cal_time_as_timet_with_zone(time, utcZone());
    ICalTimezone *zone = i_cal_time_is_date(time) ? nullptr : i_cal_time_get_timezone(time);
    return i_cal_time_as_timet_with_zone(time, zone ? zone : fallback);
}

QString componentUid(ICalComponent *component) {
    return text(i_cal_component_get_uid(component));
}

// The instant a date-time property names, resolving its TZID through the
// calendar (which knows the zones its events use); floating times and dates are
// read in the user's zone.
std::optional<qint64> propertySeconds(ICalComponent *component, ICalPropertyKind kind, const ExpandJob &job,
                                      bool *isDate = nullptr) {
    ICalProperty *property = i_cal_component_get_first_property(component, kind);
    if (!property)
        return std::nullopt;
    ICalTime *time = nullptr;
    switch (kind) {
    case I_CAL_DTSTART_PROPERTY:
        time = i_cal_property_get_dtstart(property);
        break;
    case I_CAL_DTEND_PROPERTY:
        time = i_cal_property_get_dtend(property);
        break;
    default:
        time = i_cal_property_get_recurrenceid(property);
        break;
    }
    std::optional<qint64> seconds;
    if (time && i_cal_time_is_valid_time(time) && !i_cal_time_is_null_time(time)) {
        ICalTimezone *zone = job.zone;
        if (i_cal_time_is_utc(time)) {
            zone = utcZone();
        } else if (!i_cal_time_is_date(time)) {
            if (ICalParameter *parameter =
                    i_cal_property_get_first_parameter(property, I_CAL_TZID_PARAMETER)) {
                if (ICalTimezone *found = e_cal_client_tzlookup_cb(i_cal_parameter_get_tzid(parameter),
                                                                   job.client, nullptr, nullptr))
                    zone = found;
                g_object_unref(parameter);
            }
        }
        seconds = i_cal_time_as_timet_with_zone(time, zone);
        if (isDate)
            *isDate = i_cal_time_is_date(time);
    }
    if (time)
        g_object_unref(time);
    g_object_unref(property);
    return seconds;
}

std::optional<qint64> recurrenceTime(ICalComponent *component, const ExpandJob &job) {
    return propertySeconds(component, I_CAL_RECURRENCEID_PROPERTY, job);
}

// How long each occurrence lasts, in real seconds: libecal's own instance ends
// are off by the clock change for events that span one.
std::optional<qint64> exactDuration(ICalComponent *component, const ExpandJob &job) {
    bool isDate = false;
    const auto start = propertySeconds(component, I_CAL_DTSTART_PROPERTY, job, &isDate);
    if (!start || isDate)
        return std::nullopt; // whole days are counted in days, as libecal does
    if (const auto end = propertySeconds(component, I_CAL_DTEND_PROPERTY, job))
        return std::max<qint64>(0, *end - *start);
    if (ICalProperty *property = i_cal_component_get_first_property(component, I_CAL_DURATION_PROPERTY)) {
        ICalDuration *duration = i_cal_property_get_duration(property);
        const qint64 seconds = i_cal_duration_as_int(duration);
        g_object_unref(duration);
        g_object_unref(property);
        return std::max<qint64>(0, seconds);
    }
    return 0;
}

QString recurrenceText(qint64 seconds) {
    return QString::fromLatin1(isoUtc(seconds));
}

struct ExpandContext {
    const ExpandJob *job = nullptr;
    QString uid;
    bool recurs = false;
    std::optional<qint64> detachedRecurrence;
    std::optional<qint64> duration;
    const QSet<QPair<QString, qint64>> *detached = nullptr;
    QList<StoreInstance> *out = nullptr;
};

gboolean addInstance(ICalComponent *component, ICalTime *instanceStart, ICalTime *instanceEnd, gpointer data,
                     GCancellable *, GError **) {
    auto *context = static_cast<ExpandContext *>(data);
    const ExpandJob &job = *context->job;
    const qint64 start = toSeconds(instanceStart, job.zone);
    const qint64 end = context->duration ? start + *context->duration
                                         : (instanceEnd ? toSeconds(instanceEnd, job.zone) : start);

    std::optional<qint64> recurrence = context->detachedRecurrence;
    if (!recurrence && context->recurs) {
        recurrence = start;
        // A detached copy of this occurrence replaces it.
        if (context->detached->contains({context->uid, start}))
            return TRUE;
    }

    // Overlap with [start, end) of the window; an event without duration counts
    // when it lies inside.
    const bool overlaps = start < job.end && (end > job.start || (end <= start && start >= job.start));
    if (!overlaps)
        return TRUE;

    StoreInstance instance;
    instance.calendarUid = job.calendarUid;
    instance.uid = context->uid;
    if (recurrence)
        instance.recurrenceId = recurrenceText(*recurrence);
    instance.start = QDateTime::fromSecsSinceEpoch(start, Qt::UTC);
    instance.end = QDateTime::fromSecsSinceEpoch(std::max(start, end), Qt::UTC);
    instance.startIsDate = i_cal_time_is_date(instanceStart);
    if (ICalProperty *summary = i_cal_component_get_first_property(component, I_CAL_SUMMARY_PROPERTY)) {
        instance.summary = text(i_cal_property_get_summary(summary));
        g_object_unref(summary);
    }
    context->out->append(std::move(instance));
    return TRUE;
}

void expandInThread(GTask *task, gpointer, gpointer taskData, GCancellable *cancellable) {
    const auto *job = static_cast<const ExpandJob *>(taskData);
    GSList *objects = nullptr;
    GError *error = nullptr;
    if (!e_cal_client_get_object_list_sync(job->client, job->query.constData(), &objects, cancellable,
                                           &error)) {
        g_task_return_error(task, error);
        return;
    }

    // Occurrences moved or edited one by one are stored apart from their
    // series; the day's query does not always return them, so each series in
    // the window brings its own.
    std::vector<ICalComponent *> components;
    QSet<QPair<QString, qint64>> detached;
    const auto addDetached = [&](ICalComponent *component) {
        const auto recurrence = recurrenceTime(component, *job);
        if (!recurrence || detached.contains({componentUid(component), *recurrence}))
            return;
        detached.insert({componentUid(component), *recurrence});
        components.push_back(I_CAL_COMPONENT(g_object_ref(component)));
    };
    for (GSList *item = objects; item; item = item->next) {
        auto *component = static_cast<ICalComponent *>(item->data);
        if (e_cal_util_component_is_instance(component)) {
            addDetached(component);
            continue;
        }
        components.push_back(I_CAL_COMPONENT(g_object_ref(component)));
        if (!e_cal_util_component_has_recurrences(component))
            continue;
        GSList *series = nullptr;
        GError *seriesError = nullptr;
        if (e_cal_client_get_objects_for_uid_sync(job->client, i_cal_component_get_uid(component), &series,
                                                  cancellable, &seriesError)) {
            for (GSList *part = series; part; part = part->next) {
                ICalComponent *icalcomp = e_cal_component_get_icalcomponent(E_CAL_COMPONENT(part->data));
                if (icalcomp && e_cal_util_component_is_instance(icalcomp))
                    addDetached(icalcomp);
            }
            g_slist_free_full(series, g_object_unref);
        }
        g_clear_error(&seriesError);
    }
    g_slist_free_full(objects, g_object_unref);

    auto *instances = new QList<StoreInstance>;
    ICalTime *windowStart = i_cal_time_new_from_timet_with_zone(job->start, FALSE, utcZone());
    ICalTime *windowEnd = i_cal_time_new_from_timet_with_zone(job->end, FALSE, utcZone());
    for (ICalComponent *component : components) {
        if (g_cancellable_is_cancelled(cancellable))
            break;
        ExpandContext context;
        context.job = job;
        context.uid = componentUid(component);
        context.detached = &detached;
        context.out = instances;
        if (e_cal_util_component_is_instance(component))
            context.detachedRecurrence = recurrenceTime(component, *job);
        else
            context.recurs = e_cal_util_component_has_recurrences(component);
        context.duration = exactDuration(component, *job);
        GError *expandError = nullptr;
        if (!e_cal_recur_generate_instances_sync(component, windowStart, windowEnd, addInstance, &context,
                                                 e_cal_client_tzlookup_cb, job->client, job->zone,
                                                 cancellable, &expandError)) {
            // One malformed event must not hide the rest of the calendar.
            if (!isCancelled(expandError))
                qCDebug(lcCalendar) << "cannot expand" << context.uid << errorText(expandError);
            g_clear_error(&expandError);
        }
    }
    g_object_unref(windowStart);
    g_object_unref(windowEnd);
    for (ICalComponent *component : components)
        g_object_unref(component);

    if (g_cancellable_set_error_if_cancelled(cancellable, &error)) {
        delete instances;
        g_task_return_error(task, error);
        return;
    }
    std::stable_sort(instances->begin(), instances->end(),
                     [](const StoreInstance &a, const StoreInstance &b) {
                         if (a.start != b.start)
                             return a.start < b.start;
                         return a.uid < b.uid;
                     });
    g_task_return_pointer(task, instances,
                          [](gpointer list) { delete static_cast<QList<StoreInstance> *>(list); });
}

// Views are started off the UI thread as well: starting one is a blocking call.
void startViewInThread(GTask *task, gpointer, gpointer taskData, GCancellable *) {
    auto *view = static_cast<ECalClientView *>(taskData);
    GError *error = nullptr;
    // Only later changes matter; the events themselves come from the fetch.
    e_cal_client_view_set_flags(view, E_CAL_CLIENT_VIEW_FLAGS_NONE, &error);
    if (!error)
        e_cal_client_view_start(view, &error);
    if (error)
        g_task_return_error(task, error);
    else
        g_task_return_boolean(task, TRUE);
}

// ---- The store --------------------------------------------------------------

class EdsCalendarStore final : public CalendarStore {
public:
    EdsCalendarStore() : m_cancellable(g_cancellable_new()) {}

    ~EdsCalendarStore() override {
        // Nobody is called back from here on: the callers are going away too.
        m_destroying = true;
        m_openWaiters.clear();
        g_cancellable_cancel(m_cancellable);
        for (const auto &weak : m_fetches) {
            if (const auto fetch = weak.lock()) {
                fetch->finished = true;
                fetch->done = nullptr;
                g_cancellable_cancel(fetch->cancellable);
            }
        }
        dropRegistry();
        g_object_unref(m_cancellable);
    }

    bool isOpen() const override {
        if (!m_registry)
            return false;
        // Without the server the registry still opens, but empty.
        ESource *builtin = e_source_registry_ref_builtin_calendar(m_registry);
        if (!builtin)
            return false;
        g_object_unref(builtin);
        return true;
    }

    void open(OpenCallback done) override {
        m_openWaiters.append(std::move(done));
        if (m_opening)
            return;
        m_opening = true;
        const quint64 attempt = ++m_openAttempt;
        // A registry object outlives its server and keeps its last sources, so
        // ask the bus first whether the server runs (or can be started).
        g_bus_get(G_BUS_TYPE_SESSION, m_cancellable, &EdsCalendarStore::busReady,
                  new OpenContext{this, attempt});
        QTimer::singleShot(openTimeoutMs, this, [this, attempt] {
            if (!m_opening || attempt != m_openAttempt)
                return;
            // A late answer of this attempt is thrown away.
            ++m_openAttempt;
            dropRegistry();
            finishOpen({false, QStringLiteral("the calendar server did not answer")});
        });
    }

    QList<StoreCalendar> calendars() const override {
        QList<StoreCalendar> result;
        if (!m_registry)
            return result;
        GList *sources = e_source_registry_list_enabled(m_registry, E_SOURCE_EXTENSION_CALENDAR);
        for (GList *item = sources; item; item = item->next) {
            auto *source = E_SOURCE(item->data);
            StoreCalendar calendar;
            calendar.uid = text(e_source_get_uid(source));
            calendar.displayName = text(e_source_get_display_name(source));
            auto *selectable =
                E_SOURCE_SELECTABLE(e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR));
            gchar *color = e_source_selectable_dup_color(selectable);
            calendar.color = text(color);
            g_free(color);
            const char *parentUid = e_source_get_parent(source);
            calendar.addedByApp = g_strcmp0(parentUid, appParentUid) == 0;
            if (parentUid && *parentUid) {
                // A parent that does not exist is no account to show.
                if (ESource *parent = e_source_registry_ref_source(m_registry, parentUid)) {
                    calendar.accountUid = text(parentUid);
                    calendar.accountName = text(e_source_get_display_name(parent));
                    g_object_unref(parent);
                }
            }
            result.append(std::move(calendar));
        }
        g_list_free_full(sources, g_object_unref);
        std::sort(result.begin(), result.end(), [](const StoreCalendar &a, const StoreCalendar &b) {
            if (a.displayName != b.displayName)
                return a.displayName < b.displayName;
            return a.uid < b.uid;
        });
        return result;
    }

    void fetch(const QDateTime &start, const QDateTime &end, FetchCallback done) override {
        auto fetch = std::make_shared<Fetch>();
        fetch->done = std::move(done);
        fetch->start = start.toSecsSinceEpoch();
        fetch->end = end.toSecsSinceEpoch();
        fetch->cancellable = g_cancellable_new();
        m_fetches.erase(
            std::remove_if(m_fetches.begin(), m_fetches.end(), [](const auto &w) { return w.expired(); }),
            m_fetches.end());
        m_fetches.push_back(fetch);

        QTimer::singleShot(fetchTimeoutMs, this, [this, weak = std::weak_ptr<Fetch>(fetch)] {
            const auto timedOut = weak.lock();
            if (!timedOut || timedOut->finished)
                return;
            g_cancellable_cancel(timedOut->cancellable);
            // Whatever hangs is not reused.
            dropRegistry();
            finish(timedOut,
                   StoreFetchResult{
                       false, QStringLiteral("the calendar server did not answer in time"), {}, {}});
        });

        open([this, fetch](StoreOpenResult opened) {
            if (fetch->finished)
                return;
            if (!opened.ok) {
                finish(fetch, StoreFetchResult{false, opened.error, {}, {}});
                return;
            }
            fetch->calendars = calendars();
            fetch->pending = int(fetch->calendars.size());
            if (fetch->pending == 0) {
                finish(fetch, StoreFetchResult{true, {}, {}, {}});
                return;
            }
            for (const StoreCalendar &calendar : std::as_const(fetch->calendars))
                fetchCalendar(fetch, calendar.uid);
        });
    }

    void addWebCalendar(const NewWebCalendar &calendar, DoneCallback done) override {
        open([this, calendar, done = std::move(done)](StoreOpenResult opened) {
            if (!opened.ok) {
                done(opened.error);
                return;
            }
            GError *error = nullptr;
            ESource *source = e_source_new(nullptr, nullptr, &error);
            if (!source) {
                done(errorText(error));
                g_clear_error(&error);
                return;
            }
            e_source_set_display_name(source, calendar.displayName.toUtf8().constData());
            e_source_set_parent(source, appParentUid);
            auto *extension = e_source_get_extension(source, E_SOURCE_EXTENSION_CALENDAR);
            e_source_backend_set_backend_name(E_SOURCE_BACKEND(extension), "webcal");
            e_source_selectable_set_color(E_SOURCE_SELECTABLE(extension),
                                          calendar.color.toUtf8().constData());
            GUri *uri = g_uri_parse(calendar.address.toString(QUrl::FullyEncoded).toUtf8().constData(),
                                    G_URI_FLAGS_ENCODED, nullptr);
            e_source_webdav_set_uri(
                E_SOURCE_WEBDAV(e_source_get_extension(source, E_SOURCE_EXTENSION_WEBDAV_BACKEND)), uri);
            if (uri)
                g_uri_unref(uri);
            e_source_security_set_secure(
                E_SOURCE_SECURITY(e_source_get_extension(source, E_SOURCE_EXTENSION_SECURITY)),
                calendar.address.scheme() == QLatin1String("https"));
            auto *refresh = E_SOURCE_REFRESH(e_source_get_extension(source, E_SOURCE_EXTENSION_REFRESH));
            e_source_refresh_set_enabled(refresh, TRUE);
            e_source_refresh_set_interval_minutes(refresh, guint(std::max(1, calendar.refreshMinutes)));
            // Keep the events for when the machine is offline.
            e_source_offline_set_stay_synchronized(
                E_SOURCE_OFFLINE(e_source_get_extension(source, E_SOURCE_EXTENSION_OFFLINE)), TRUE);

            GList *sources = g_list_append(nullptr, source);
            if (ESource *parent = e_source_registry_ref_source(m_registry, appParentUid)) {
                g_object_unref(parent);
            } else {
                ESource *created = e_source_new_with_uid(appParentUid, nullptr, nullptr);
                e_source_set_display_name(created, appParentName);
                sources = g_list_prepend(sources, created);
            }
            e_source_registry_create_sources(m_registry, sources, m_cancellable,
                                             &EdsCalendarStore::operationDone,
                                             new OperationContext{this, done});
            g_list_free_full(sources, g_object_unref);
        });
    }

    void removeCalendar(const QString &uid, DoneCallback done) override {
        open([this, uid, done = std::move(done)](StoreOpenResult opened) {
            if (!opened.ok) {
                done(opened.error);
                return;
            }
            ESource *source = e_source_registry_ref_source(m_registry, uid.toUtf8().constData());
            if (!source || g_strcmp0(e_source_get_parent(source), appParentUid) != 0) {
                if (source)
                    g_object_unref(source);
                done(QStringLiteral("only calendars added here can be removed here"));
                return;
            }
            e_source_remove(source, m_cancellable, &EdsCalendarStore::operationDone,
                            new OperationContext{this, done});
            g_object_unref(source);
        });
    }

    void synchronize(DoneCallback done) override {
        auto sync = std::make_shared<Sync>();
        sync->done = std::move(done);
        sync->cancellable = g_cancellable_new();
        QTimer::singleShot(syncTimeoutMs, this, [weak = std::weak_ptr<Sync>(sync)] {
            if (const auto late = weak.lock()) {
                g_cancellable_cancel(late->cancellable);
                finishSync(late, QStringLiteral("the calendars did not answer in time"));
            }
        });
        open([this, sync](StoreOpenResult opened) {
            if (!opened.ok) {
                finishSync(sync, opened.error);
                return;
            }
            const QList<StoreCalendar> all = calendars();
            sync->pending = int(all.size()) + 1;
            for (const StoreCalendar &calendar : all) {
                withClient(calendar.uid, [this, sync](ECalClient *client, const QString &) {
                    if (!client || sync->finished || !e_client_check_refresh_supported(E_CLIENT(client))) {
                        syncStep(sync);
                        return;
                    }
                    e_client_refresh(E_CLIENT(client), sync->cancellable, &EdsCalendarStore::refreshed,
                                     new SyncContext{this, sync});
                });
            }
            syncStep(sync);
        });
    }

private:
    struct Fetch {
        FetchCallback done;
        qint64 start = 0;
        qint64 end = 0;
        GCancellable *cancellable = nullptr;
        QList<StoreCalendar> calendars;
        std::map<QString, QList<StoreInstance>> results;
        QStringList errors;
        int pending = 0;
        bool finished = false;

        ~Fetch() { g_object_unref(cancellable); }
    };

    using ClientCallback = std::function<void(ECalClient *, QString)>;

    struct ClientSlot {
        ECalClient *client = nullptr;
        bool connecting = false;
        QList<ClientCallback> waiters;
        ECalClientView *view = nullptr;
        bool viewPending = false;
        qint64 viewStart = 0;
        qint64 viewEnd = 0;
    };

    struct ClientContext {
        QPointer<EdsCalendarStore> store;
        QString uid;
        qint64 start = 0;
        qint64 end = 0;
        ECalClient *client = nullptr; // for views: the client the view was asked of
    };

    struct ExpandContextMain {
        QPointer<EdsCalendarStore> store;
        std::shared_ptr<Fetch> fetch;
        QString uid;
    };

    struct OpenContext {
        QPointer<EdsCalendarStore> store;
        quint64 attempt = 0;
    };

    struct OperationContext {
        QPointer<EdsCalendarStore> store;
        DoneCallback done;
    };

    struct Sync {
        DoneCallback done;
        GCancellable *cancellable = nullptr;
        int pending = 0;
        bool finished = false;

        ~Sync() { g_object_unref(cancellable); }
    };

    struct SyncContext {
        QPointer<EdsCalendarStore> store;
        std::shared_ptr<Sync> sync;
    };

    // Both creating and removing sources answer here.
    static void operationDone(GObject *object, GAsyncResult *result, gpointer data) {
        std::unique_ptr<OperationContext> context(static_cast<OperationContext *>(data));
        GError *error = nullptr;
        const gboolean ok =
            E_IS_SOURCE_REGISTRY(object)
                ? e_source_registry_create_sources_finish(E_SOURCE_REGISTRY(object), result, &error)
                : e_source_remove_finish(E_SOURCE(object), result, &error);
        const QString message = ok ? QString() : errorText(error);
        g_clear_error(&error);
        if (context->store && !context->store->m_destroying)
            context->done(message);
    }

    static void refreshed(GObject *object, GAsyncResult *result, gpointer data) {
        std::unique_ptr<SyncContext> context(static_cast<SyncContext *>(data));
        GError *error = nullptr;
        if (!e_client_refresh_finish(E_CLIENT(object), result, &error) && !isCancelled(error))
            qCDebug(lcCalendar) << "cannot refresh" << e_source_get_uid(e_client_get_source(E_CLIENT(object)))
                                << errorText(error);
        g_clear_error(&error);
        if (context->store)
            syncStep(context->sync);
    }

    static void syncStep(const std::shared_ptr<Sync> &sync) {
        if (--sync->pending == 0)
            finishSync(sync, {});
    }

    static void finishSync(const std::shared_ptr<Sync> &sync, const QString &error) {
        if (sync->finished)
            return;
        sync->finished = true;
        const auto done = std::move(sync->done);
        done(error);
    }

    static EdsCalendarStore *currentOpen(const OpenContext &context) {
        EdsCalendarStore *self = context.store.data();
        return self && context.attempt == self->m_openAttempt ? self : nullptr;
    }

    static void busReady(GObject *, GAsyncResult *result, gpointer data) {
        std::unique_ptr<OpenContext> context(static_cast<OpenContext *>(data));
        GError *error = nullptr;
        GDBusConnection *bus = g_bus_get_finish(result, &error);
        EdsCalendarStore *self = currentOpen(*context);
        if (!self || !bus) {
            if (self)
                self->finishOpen({false, errorText(error)});
            g_clear_error(&error);
            if (bus)
                g_object_unref(bus);
            return;
        }
        g_dbus_connection_call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "StartServiceByName", g_variant_new("(su)", sourcesService, 0u),
                               G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, openTimeoutMs,
                               self->m_cancellable, &EdsCalendarStore::serverStarted, context.release());
        g_object_unref(bus);
    }

    static void serverStarted(GObject *bus, GAsyncResult *result, gpointer data) {
        std::unique_ptr<OpenContext> context(static_cast<OpenContext *>(data));
        GError *error = nullptr;
        GVariant *reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &error);
        if (reply)
            g_variant_unref(reply);
        EdsCalendarStore *self = currentOpen(*context);
        if (!self) {
            g_clear_error(&error);
            return;
        }
        if (!reply) {
            g_dbus_error_strip_remote_error(error);
            const QString message = errorText(error);
            g_clear_error(&error);
            self->dropRegistry();
            self->finishOpen({false, message});
            return;
        }
        if (self->isOpen()) {
            self->finishOpen({true, {}});
            return;
        }
        self->dropRegistry();
        e_source_registry_new(self->m_cancellable, &EdsCalendarStore::registryReady, context.release());
    }

    static void registryReady(GObject *, GAsyncResult *result, gpointer data) {
        std::unique_ptr<OpenContext> context(static_cast<OpenContext *>(data));
        GError *error = nullptr;
        ESourceRegistry *registry = e_source_registry_new_finish(result, &error);
        EdsCalendarStore *self = currentOpen(*context);
        if (!self) {
            if (registry)
                g_object_unref(registry);
            g_clear_error(&error);
            return;
        }
        StoreOpenResult opened;
        if (!registry) {
            opened.error = errorText(error);
        } else if (ESource *builtin = e_source_registry_ref_builtin_calendar(registry)) {
            g_object_unref(builtin);
            self->adoptRegistry(registry);
            opened.ok = true;
        } else {
            g_object_unref(registry);
            opened.error = QStringLiteral("Evolution Data Server is not available");
        }
        g_clear_error(&error);
        self->finishOpen(opened);
    }

    void finishOpen(const StoreOpenResult &opened) {
        qCDebug(lcCalendar) << "registry opened:" << opened.ok << opened.error;
        m_opening = false;
        const auto waiters = std::exchange(m_openWaiters, {});
        for (const auto &waiter : waiters)
            waiter(opened);
    }

    void adoptRegistry(ESourceRegistry *registry) {
        m_registry = registry;
        for (const char *name : {"source-added", "source-changed", "source-enabled"})
            g_signal_connect(m_registry, name, G_CALLBACK(&EdsCalendarStore::sourceEvent), this);
        for (const char *name : {"source-removed", "source-disabled"})
            g_signal_connect(m_registry, name, G_CALLBACK(&EdsCalendarStore::sourceGone), this);
    }

    static void sourceGone(ESourceRegistry *registry, ESource *source, gpointer data) {
        static_cast<EdsCalendarStore *>(data)->dropClient(text(e_source_get_uid(source)));
        sourceEvent(registry, source, data);
    }

    static void sourceEvent(ESourceRegistry *, ESource *source, gpointer data) {
        auto *self = static_cast<EdsCalendarStore *>(data);
        const QString uid = text(e_source_get_uid(source));
        bool relevant = e_source_has_extension(source, E_SOURCE_EXTENSION_CALENDAR);
        if (!relevant) {
            // An account's name shows in the settings.
            const auto known = self->calendars();
            relevant = std::any_of(known.begin(), known.end(),
                                   [&](const StoreCalendar &calendar) { return calendar.accountUid == uid; });
        }
        if (relevant) {
            qCDebug(lcCalendar) << "calendar source changed:" << uid;
            Q_EMIT self->changed();
        }
    }

    void dropRegistry() {
        while (!m_clients.empty())
            dropClient(m_clients.begin()->first);
        if (m_registry) {
            g_signal_handlers_disconnect_by_data(m_registry, this);
            g_object_unref(m_registry);
            m_registry = nullptr;
        }
    }

    void dropClient(const QString &uid) {
        const auto it = m_clients.find(uid);
        if (it == m_clients.end())
            return;
        ClientSlot slot = std::move(it->second);
        m_clients.erase(it);
        if (slot.view) {
            g_signal_handlers_disconnect_by_data(slot.view, this);
            g_object_unref(slot.view);
        }
        if (slot.client) {
            g_signal_handlers_disconnect_by_data(slot.client, this);
            g_object_unref(slot.client);
        }
        if (!m_destroying)
            for (const auto &waiter : std::as_const(slot.waiters))
                waiter(nullptr, QStringLiteral("the calendar went away"));
    }

    void withClient(const QString &uid, ClientCallback done) {
        ClientSlot &slot = m_clients[uid];
        if (slot.client) {
            done(slot.client, {});
            return;
        }
        slot.waiters.append(std::move(done));
        if (slot.connecting)
            return;
        ESource *source =
            m_registry ? e_source_registry_ref_source(m_registry, uid.toUtf8().constData()) : nullptr;
        if (!source) {
            const auto waiters = std::exchange(slot.waiters, {});
            m_clients.erase(uid);
            for (const auto &waiter : waiters)
                waiter(nullptr, QStringLiteral("no such calendar"));
            return;
        }
        slot.connecting = true;
        e_cal_client_connect(source, E_CAL_CLIENT_SOURCE_TYPE_EVENTS, connectWaitSeconds, m_cancellable,
                             &EdsCalendarStore::clientConnected, new ClientContext{this, uid, 0, 0, nullptr});
        g_object_unref(source);
    }

    static void clientConnected(GObject *, GAsyncResult *result, gpointer data) {
        std::unique_ptr<ClientContext> context(static_cast<ClientContext *>(data));
        GError *error = nullptr;
        EClient *client = e_cal_client_connect_finish(result, &error);
        EdsCalendarStore *self = context->store.data();
        const auto it = self ? self->m_clients.find(context->uid) : std::map<QString, ClientSlot>::iterator();
        if (!self || it == self->m_clients.end() || !it->second.connecting) {
            // The store or the calendar went away meanwhile.
            if (client)
                g_object_unref(client);
            g_clear_error(&error);
            return;
        }
        ClientSlot &slot = it->second;
        slot.connecting = false;
        const auto waiters = std::exchange(slot.waiters, {});
        if (!client) {
            const QString message = errorText(error);
            g_clear_error(&error);
            self->m_clients.erase(it);
            for (const auto &waiter : waiters)
                waiter(nullptr, message);
            return;
        }
        slot.client = E_CAL_CLIENT(client);
        g_signal_connect(client, "backend-died", G_CALLBACK(&EdsCalendarStore::backendDied), self);
        for (const auto &waiter : waiters)
            waiter(slot.client, {});
    }

    static void backendDied(EClient *client, gpointer data) {
        auto *self = static_cast<EdsCalendarStore *>(data);
        for (const auto &[uid, slot] : self->m_clients) {
            if (slot.client == E_CAL_CLIENT(client)) {
                qCDebug(lcCalendar) << "calendar backend died:" << uid;
                self->dropClient(uid);
                break;
            }
        }
        Q_EMIT self->changed();
    }

    void fetchCalendar(const std::shared_ptr<Fetch> &fetch, const QString &uid) {
        withClient(uid, [this, fetch, uid](ECalClient *client, const QString &error) {
            if (fetch->finished)
                return;
            if (!client) {
                calendarDone(fetch, uid, {}, error);
                return;
            }
            ICalTimezone *zone = localZone();
            e_cal_client_set_default_timezone(client, zone);
            watchWindow(uid, fetch->start, fetch->end);

            auto *job = new ExpandJob;
            job->client = E_CAL_CLIENT(g_object_ref(client));
            job->calendarUid = uid;
            job->start = fetch->start;
            job->end = fetch->end;
            job->zone = zone;
            job->query = windowQuery(fetch->start, fetch->end, zone);
            GTask *task = g_task_new(nullptr, fetch->cancellable, &EdsCalendarStore::expanded,
                                     new ExpandContextMain{this, fetch, uid});
            g_task_set_task_data(task, job, [](gpointer p) { delete static_cast<ExpandJob *>(p); });
            g_task_run_in_thread(task, expandInThread);
            g_object_unref(task);
        });
    }

    static void expanded(GObject *, GAsyncResult *result, gpointer data) {
        std::unique_ptr<ExpandContextMain> context(static_cast<ExpandContextMain *>(data));
        GError *error = nullptr;
        std::unique_ptr<QList<StoreInstance>> instances(
            static_cast<QList<StoreInstance> *>(g_task_propagate_pointer(G_TASK(result), &error)));
        EdsCalendarStore *self = context->store.data();
        if (!self || context->fetch->finished) {
            g_clear_error(&error);
            return;
        }
        QString message;
        if (!instances) {
            message = errorText(error);
            // The connection is suspect: connect again next time.
            self->dropClient(context->uid);
        }
        g_clear_error(&error);
        self->calendarDone(context->fetch, context->uid,
                           instances ? std::move(*instances) : QList<StoreInstance>{}, message);
    }

    void calendarDone(const std::shared_ptr<Fetch> &fetch, const QString &uid, QList<StoreInstance> instances,
                      const QString &error) {
        if (!error.isEmpty()) {
            qCDebug(lcCalendar) << "cannot read calendar" << uid << error;
            fetch->errors.append(error);
        } else {
            fetch->results[uid] = std::move(instances);
        }
        if (--fetch->pending > 0)
            return;

        StoreFetchResult result;
        if (fetch->errors.size() == fetch->calendars.size()) {
            // Not a single calendar answered: the server is gone.
            result.error = fetch->errors.first();
            dropRegistry();
        } else {
            result.reachable = true;
            result.calendars = fetch->calendars;
            for (const StoreCalendar &calendar : std::as_const(fetch->calendars)) {
                const auto found = fetch->results.find(calendar.uid);
                if (found != fetch->results.end())
                    result.instances += found->second;
            }
        }
        finish(fetch, std::move(result));
    }

    void finish(const std::shared_ptr<Fetch> &fetch, StoreFetchResult result) {
        if (fetch->finished)
            return;
        fetch->finished = true;
        const auto done = std::move(fetch->done);
        done(std::move(result));
    }

    // Keeps a live view on the fetched window, so that edits made elsewhere
    // reach the bar without waiting for the next timed refresh.
    void watchWindow(const QString &uid, qint64 start, qint64 end) {
        const auto it = m_clients.find(uid);
        if (it == m_clients.end() || !it->second.client)
            return;
        ClientSlot &slot = it->second;
        if ((slot.view || slot.viewPending) && slot.viewStart == start && slot.viewEnd == end)
            return;
        if (slot.view) {
            g_signal_handlers_disconnect_by_data(slot.view, this);
            g_object_unref(slot.view);
            slot.view = nullptr;
        }
        slot.viewPending = true;
        slot.viewStart = start;
        slot.viewEnd = end;
        e_cal_client_get_view(slot.client, windowQuery(start, end, localZone()).constData(), m_cancellable,
                              &EdsCalendarStore::viewReady,
                              new ClientContext{this, uid, start, end, slot.client});
    }

    static void viewReady(GObject *, GAsyncResult *result, gpointer data) {
        std::unique_ptr<ClientContext> context(static_cast<ClientContext *>(data));
        GError *error = nullptr;
        ECalClientView *view = nullptr;
        EdsCalendarStore *self = context->store.data();
        // The client may be gone from the store already; the result holds it.
        GObject *source = g_async_result_get_source_object(result);
        const gboolean ok = e_cal_client_get_view_finish(E_CAL_CLIENT(source), result, &view, &error);
        g_object_unref(source);
        const auto it = self ? self->m_clients.find(context->uid) : std::map<QString, ClientSlot>::iterator();
        if (!self || it == self->m_clients.end() || it->second.client != context->client ||
            it->second.viewStart != context->start || it->second.viewEnd != context->end) {
            if (view)
                g_object_unref(view);
            g_clear_error(&error);
            return;
        }
        ClientSlot &slot = it->second;
        slot.viewPending = false;
        if (!ok || !view) {
            qCDebug(lcCalendar) << "cannot watch calendar" << context->uid << errorText(error);
            g_clear_error(&error);
            return;
        }
        slot.view = view;
        for (const char *name : {"objects-added", "objects-modified", "objects-removed"})
            g_signal_connect(view, name, G_CALLBACK(&EdsCalendarStore::viewChanged), self);
        // A calendar that copies a remote one may fill its copy between our
        // read and the start of the view, unseen by both: read once more after.
        ESource *calendarSource = e_client_get_source(E_CLIENT(context->client));
        auto *backend = E_SOURCE_BACKEND(e_source_get_extension(calendarSource, E_SOURCE_EXTENSION_CALENDAR));
        const bool remote = g_strcmp0(e_source_backend_get_backend_name(backend), "local") != 0 &&
                            g_strcmp0(e_source_backend_get_backend_name(backend), "contacts") != 0;
        GTask *task = g_task_new(nullptr, self->m_cancellable, &EdsCalendarStore::viewStarted,
                                 remote ? new QPointer<EdsCalendarStore>(self) : nullptr);
        g_task_set_task_data(task, g_object_ref(view), g_object_unref);
        g_task_run_in_thread(task, startViewInThread);
        g_object_unref(task);
    }

    static void viewStarted(GObject *, GAsyncResult *result, gpointer data) {
        std::unique_ptr<QPointer<EdsCalendarStore>> remoteStore(
            static_cast<QPointer<EdsCalendarStore> *>(data));
        GError *error = nullptr;
        if (!g_task_propagate_boolean(G_TASK(result), &error) && !isCancelled(error))
            qCDebug(lcCalendar) << "cannot start calendar view:" << errorText(error);
        else if (remoteStore && *remoteStore)
            Q_EMIT(*remoteStore)->changed();
        g_clear_error(&error);
    }

    static void viewChanged(ECalClientView *, gpointer, gpointer data) {
        auto *self = static_cast<EdsCalendarStore *>(data);
        qCDebug(lcCalendar) << "events changed";
        Q_EMIT self->changed();
    }

    GCancellable *m_cancellable = nullptr;
    ESourceRegistry *m_registry = nullptr;
    bool m_opening = false;
    bool m_destroying = false;
    quint64 m_openAttempt = 0;
    QList<OpenCallback> m_openWaiters;
    std::map<QString, ClientSlot> m_clients;
    std::vector<std::weak_ptr<Fetch>> m_fetches;
};

} // namespace

std::unique_ptr<CalendarStore> createEdsCalendarStore() {
    return std::make_unique<EdsCalendarStore>();
}

} // namespace daybrook

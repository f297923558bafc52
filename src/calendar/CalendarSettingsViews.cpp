#include "calendar/CalendarSettingsViews.h"

#include "widgets/TriStateCheckbox.h"

#include <QCollator>
#include <QHBoxLayout>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardPaths>
#include <QTextStream>
#include <QVBoxLayout>

namespace daybrook {

CalendarRowPresentation presentCalendarRow(const CalendarRowState &state) {
    CalendarRowPresentation result;
    if (!state.hasService) {
        result.statusText = QStringLiteral("Service unavailable");
    } else if (!state.isEnabled) {
        result.statusText = QStringLiteral("Disabled");
    } else {
        switch (state.authorizationStatus) {
        case CalendarAuthorization::NotDetermined:
            result.statusText = QStringLiteral("Not connected");
            break;
        case CalendarAuthorization::Restricted:
        case CalendarAuthorization::Denied:
            result.statusText = QStringLiteral("Access denied - enable in System Settings");
            break;
        case CalendarAuthorization::FullAccess:
            result.statusText = QStringLiteral("Reading events from your calendar");
            break;
        case CalendarAuthorization::WriteOnly:
            result.statusText = QStringLiteral("Write-only access - need full access");
            break;
        default:
            result.statusText = QStringLiteral("Unknown status");
            break;
        }
    }

    const bool fullAccess = state.authorizationStatus == CalendarAuthorization::FullAccess;
    if (state.hasService && fullAccess && state.isEnabled)
        result.control = CalendarRowControl::Connected;
    else if (state.hasService && !state.isEnabled)
        result.control = CalendarRowControl::Enable;
    else if (state.hasService && state.authorizationStatus == CalendarAuthorization::Denied)
        result.control = CalendarRowControl::OpenSettings;
    else
        result.control = CalendarRowControl::Connect;

    result.showsDetail = result.control == CalendarRowControl::Connected;
    if (result.showsDetail)
        result.detailText = QStringLiteral("%1 events today").arg(state.eventCount);
    return result;
}

std::optional<ExternalCommand> calendarSettingsCommand() {
    // Calendars come from the accounts the desktop manages for the calendar store.
    const QList<ExternalCommand> candidates = {
        {QStringLiteral("gnome-control-center"), {QStringLiteral("online-accounts")}},
        {QStringLiteral("systemsettings"), {QStringLiteral("kcm_kaccounts")}},
        {QStringLiteral("systemsettings5"), {QStringLiteral("kcm_kaccounts")}},
    };
    for (const ExternalCommand &candidate : candidates) {
        const QString path = QStandardPaths::findExecutable(candidate.program);
        if (!path.isEmpty())
            return ExternalCommand{path, candidate.arguments};
    }
    return std::nullopt;
}

static QColor calendarGlyphColor(const QPalette &palette) {
    return style::redColor(palette);
}

CalendarIntegrationRow::CalendarIntegrationRow(CalendarService *service, QWidget *parent)
    : IntegrationRow(style::Symbol::Calendar, calendarGlyphColor, QStringLiteral("Calendar"), parent),
      m_service(service) {
    setObjectName(QStringLiteral("calendarIntegrationRow"));
    m_connectedBadge = new StatusBadge(QStringLiteral("Connected"));
    m_connectedBadge->setObjectName(QStringLiteral("connectedBadge"));
    addTrailing(m_connectedBadge);

    m_enableButton = new QPushButton(QStringLiteral("Enable"));
    m_enableButton->setObjectName(QStringLiteral("enableButton"));
    addTrailing(m_enableButton);
    connect(m_enableButton, &QPushButton::clicked, this, [this] {
        if (m_service)
            m_service->enable();
    });

    m_deniedControls = new QWidget;
    auto *deniedLayout = new QHBoxLayout(m_deniedControls);
    deniedLayout->setContentsMargins(0, 0, 0, 0);
    deniedLayout->setSpacing(8);
    m_openSettingsButton = new QPushButton(QStringLiteral("Open Settings"), m_deniedControls);
    m_openSettingsButton->setObjectName(QStringLiteral("openSettingsButton"));
    // Without a settings program of the desktop there is nowhere to send the user.
    const std::optional<ExternalCommand> command = calendarSettingsCommand();
    m_openSettingsButton->setVisible(command.has_value());
    deniedLayout->addWidget(m_openSettingsButton);
    auto *recheckButton = new QPushButton(m_deniedControls);
    recheckButton->setObjectName(QStringLiteral("recheckButton"));
    recheckButton->setFlat(true);
    recheckButton->setToolTip(QStringLiteral("Check again"));
    recheckButton->setIcon(
        style::symbolIcon(style::Symbol::ArrowClockwise, style::secondaryColor(palette()), 16));
    deniedLayout->addWidget(recheckButton);
    addTrailing(m_deniedControls);
    connect(m_openSettingsButton, &QPushButton::clicked, this, [command] {
        if (command && !QProcess::startDetached(command->program, command->arguments))
            QTextStream(stdout) << "Failed to open " << command->program << Qt::endl;
    });
    connect(recheckButton, &QPushButton::clicked, this, [this] {
        if (m_service)
            m_service->checkAuthorizationStatus();
    });

    m_connectButton = new QPushButton(QStringLiteral("Connect"));
    m_connectButton->setObjectName(QStringLiteral("connectButton"));
    addTrailing(m_connectButton);
    connect(m_connectButton, &QPushButton::clicked, this, [this] {
        if (!m_service)
            return;
        // The result shows through the service's state.
        [](QPointer<CalendarService> target) -> QCoro::Task<> {
            if (target)
                co_await target->requestAccess();
        }(m_service);
    });

    m_detailText = setUpDetailLine(
        QStringLiteral("Disconnect"), QStringLiteral("disconnectButton"),
        [this] {
            [](QPointer<CalendarService> target) -> QCoro::Task<> {
                if (target)
                    co_await target->fetchEvents();
            }(m_service);
        },
        [this] {
            if (m_service)
                m_service->disconnect();
        });

    if (service) {
        for (auto signal : {&CalendarService::authorizationStatusChanged, &CalendarService::isEnabledChanged,
                            &CalendarService::eventsChanged})
            connect(service, signal, this, &CalendarIntegrationRow::refresh);
    }
    refresh();
}

CalendarRowState CalendarIntegrationRow::currentState() const {
    CalendarRowState state;
    if (!m_service)
        return state;
    state.hasService = true;
    state.authorizationStatus = m_service->authorizationStatus();
    state.isEnabled = m_service->isEnabled();
    state.eventCount = m_service->events().size();
    return state;
}

void CalendarIntegrationRow::refresh() {
    applyState(currentState());
}

void CalendarIntegrationRow::applyState(const CalendarRowState &state) {
    const CalendarRowPresentation shown = presentCalendarRow(state);
    setStatusText(shown.statusText);
    switch (shown.control) {
    case CalendarRowControl::Connected:
        showTrailing(m_connectedBadge);
        break;
    case CalendarRowControl::Enable:
        showTrailing(m_enableButton);
        break;
    case CalendarRowControl::OpenSettings:
        showTrailing(m_deniedControls);
        break;
    case CalendarRowControl::Connect:
        showTrailing(m_connectButton);
        break;
    }
    setDetailVisible(shown.showsDetail);
    m_detailText->setText(shown.detailText);
}

QString CalendarIntegrationRow::detailText() const {
    return m_detailText->text();
}

void CalendarIntegrationRow::showEvent(QShowEvent *event) {
    IntegrationRow::showEvent(event);
    // The permission may have changed outside while the row was not on screen.
    if (m_service)
        m_service->checkAuthorizationStatus();
}

CalendarPaneSource calendarPaneSource(CalendarService *service) {
    CalendarPaneSource source;
    if (!service) {
        source.eventCount = [] { return qsizetype(0); };
        source.groups = [] { return QList<CalendarGroup>(); };
        source.disabledIds = [] { return QSet<QString>(); };
        source.setCalendar = [](const QString &, bool) {};
        source.setCalendars = [](const QList<Calendar> &, bool) {};
        source.refresh = [] {};
        source.disconnect = [] {};
        return source;
    }
    QPointer<CalendarService> s(service);
    source.hasService = true;
    source.eventCount = [s] { return s ? s->events().size() : qsizetype(0); };
    source.groups = [s] { return s ? s->calendarsBySource() : QList<CalendarGroup>(); };
    source.disabledIds = [s] { return s ? s->disabledCalendarIds() : QSet<QString>(); };
    source.setCalendar = [s](const QString &id, bool enabled) {
        if (s)
            s->setCalendar(id, enabled);
    };
    source.setCalendars = [s](const QList<Calendar> &calendars, bool enabled) {
        if (s)
            s->setCalendars(calendars, enabled);
    };
    source.refresh = [s] {
        [](QPointer<CalendarService> target) -> QCoro::Task<> {
            if (target)
                co_await target->fetchEvents();
        }(s);
    };
    source.disconnect = [s] {
        if (s)
            s->disconnect();
    };
    return source;
}

QList<CalendarGroup> sortedCalendarGroups(QList<CalendarGroup> groups) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(groups.begin(), groups.end(),
                     [&collator](const CalendarGroup &a, const CalendarGroup &b) {
                         if (a.source.has_value() != b.source.has_value())
                             return a.source.has_value();
                         if (!a.source)
                             return false;
                         return collator.compare(a.source->title, b.source->title) < 0;
                     });
    return groups;
}

QString calendarGroupKey(const CalendarGroup &group) {
    return group.source ? group.source->identifier : QStringLiteral("other");
}

QString calendarGroupTitle(const CalendarGroup &group) {
    return group.source ? group.source->title : QStringLiteral("Other");
}

ToggleState calendarGroupState(const CalendarGroup &group, const QSet<QString> &disabledIds) {
    qsizetype enabled = 0;
    for (const Calendar &calendar : group.calendars)
        enabled += disabledIds.contains(calendar.identifier) ? 0 : 1;
    if (enabled == group.calendars.size())
        return ToggleState::All;
    return enabled == 0 ? ToggleState::None : ToggleState::Some;
}

CalendarSettingsView::CalendarSettingsView(CalendarService *service, QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("calendarSettingsView"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    QVBoxLayout *layout = addScrollingForm(outer, 16);

    layout->addWidget(makeConnectedHeader(
        this, [this] { m_source.refresh(); }, [this] { m_source.disconnect(); }));

    auto *today = new FormSection(QStringLiteral("Today"));
    m_eventCount = new ToneLabel({}, Tone::Secondary);
    m_eventCount->setObjectName(QStringLiteral("eventCount"));
    today->addLabeledRow(QStringLiteral("Events today"), m_eventCount);
    layout->addWidget(today);

    m_calendarsSection = new FormSection(QStringLiteral("Calendars"));
    m_calendarsSection->setObjectName(QStringLiteral("calendarsSection"));
    layout->addWidget(m_calendarsSection);
    layout->addStretch(1);

    m_source = calendarPaneSource(service);
    if (service) {
        for (auto signal : {&CalendarService::authorizationStatusChanged, &CalendarService::isEnabledChanged,
                            &CalendarService::eventsChanged, &CalendarService::disabledCalendarIdsChanged})
            connect(service, signal, this, &CalendarSettingsView::reload);
    }
    reload();
}

void CalendarSettingsView::setSource(CalendarPaneSource source) {
    m_source = std::move(source);
    reload();
}

void CalendarSettingsView::toggleGroup(const QString &key) {
    if (!m_expandedSources.remove(key))
        m_expandedSources.insert(key);
    rebuildCalendars();
}

void CalendarSettingsView::reload() {
    m_eventCount->setText(QString::number(m_source.hasService ? m_source.eventCount() : 0));
    rebuildCalendars();
}

void CalendarSettingsView::rebuildCalendars() {
    m_calendarsSection->clearRows();
    const QList<CalendarGroup> groups =
        m_source.hasService ? sortedCalendarGroups(m_source.groups()) : QList<CalendarGroup>();
    m_calendarsSection->setVisible(!groups.isEmpty());
    const QSet<QString> disabled = m_source.disabledIds();

    for (const CalendarGroup &group : groups) {
        const QString key = calendarGroupKey(group);
        const bool expanded = m_expandedSources.contains(key);

        auto *header = new QWidget;
        header->setObjectName(QStringLiteral("group:") + key);
        auto *headerLayout = new QHBoxLayout(header);
        headerLayout->setContentsMargins(0, 4, 0, 4);
        headerLayout->setSpacing(6);
        auto *chevron = new ChevronButton(header);
        chevron->setObjectName(QStringLiteral("chevron"));
        chevron->setExpanded(expanded);
        chevron->setAccessibleName(expanded ? QStringLiteral("Collapse %1").arg(calendarGroupTitle(group))
                                            : QStringLiteral("Expand %1").arg(calendarGroupTitle(group)));
        headerLayout->addWidget(chevron);
        auto *title = new QLabel(calendarGroupTitle(group), header);
        title->setObjectName(QStringLiteral("groupTitle"));
        title->setFont(style::headlineFont());
        headerLayout->addWidget(title);
        auto *count =
            new ToneLabel(QStringLiteral("· %1").arg(group.calendars.size()), Tone::Tertiary, header);
        count->setObjectName(QStringLiteral("groupCount"));
        headerLayout->addWidget(count);
        headerLayout->addStretch(1);
        auto *checkbox = new TriStateCheckbox(calendarGroupState(group, disabled), header);
        checkbox->setObjectName(QStringLiteral("groupCheckbox"));
        checkbox->setAccessibleName(QStringLiteral("Show %1 on the bar").arg(calendarGroupTitle(group)));
        headerLayout->addWidget(checkbox);
        m_calendarsSection->addRow(header);

        connect(chevron, &QAbstractButton::clicked, this, [this, key] { toggleGroup(key); });
        const QList<Calendar> calendars = group.calendars;
        connect(checkbox, &TriStateCheckbox::activated, this, [this, calendars](bool enabled) {
            m_source.setCalendars(calendars, enabled);
            reload();
        });

        if (!expanded)
            continue;
        for (const Calendar &calendar : group.calendars) {
            auto *row = new QWidget;
            row->setObjectName(QStringLiteral("calendar:") + calendar.identifier);
            auto *rowLayout = new QHBoxLayout(row);
            rowLayout->setContentsMargins(28, 3, 0, 3);
            rowLayout->setSpacing(6);
            // A calendar without a colour of its own is drawn in the colour its events get on the bar.
            rowLayout->addWidget(new ColorDot(calendar.color.value_or(standardBlue()).toQColor(), 10, row));
            rowLayout->addWidget(new QLabel(calendar.title, row));
            rowLayout->addStretch(1);
            auto *box = new TriStateCheckbox(
                disabled.contains(calendar.identifier) ? ToggleState::None : ToggleState::All, row);
            box->setObjectName(QStringLiteral("calendarCheckbox"));
            box->setAccessibleName(QStringLiteral("Show %1 on the bar").arg(calendar.title));
            rowLayout->addWidget(box);
            m_calendarsSection->addRow(row);
            const QString id = calendar.identifier;
            connect(box, &TriStateCheckbox::activated, this, [this, id](bool enabled) {
                m_source.setCalendar(id, enabled);
                reload();
            });
        }
    }
}

} // namespace daybrook

#include "calendar/CalendarSettingsViews.h"

#include "core/Logging.h"
#include "widgets/TriStateCheckbox.h"

#include <QCollator>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLineEdit>
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
            // The store is a desktop service, not a permission: say what is missing.
            result.statusText =
                QStringLiteral("Cannot reach the calendar service - install evolution-data-server");
            break;
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
    else if (state.hasService && state.authorizationStatus == CalendarAuthorization::Restricted)
        result.control = CalendarRowControl::Retry;
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

    m_retryButton = new QPushButton(QStringLiteral("Try Again"));
    m_retryButton->setObjectName(QStringLiteral("retryButton"));
    addTrailing(m_retryButton);
    connect(m_retryButton, &QPushButton::clicked, this, [this] {
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
                    co_await target->refresh();
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
    case CalendarRowControl::Retry:
        showTrailing(m_retryButton);
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
        source.addCalendar = [](const QString &, std::function<void(AddCalendarResult)> done) {
            done({false, QStringLiteral("The calendar service cannot be reached.")});
        };
        source.removeCalendar = [](const QString &) {};
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
                co_await target->refresh();
        }(s);
    };
    source.addCalendar = [s](const QString &address, std::function<void(AddCalendarResult)> done) {
        [](QPointer<CalendarService> target, QString typed,
           std::function<void(AddCalendarResult)> reply) -> QCoro::Task<> {
            if (!target)
                co_return;
            QCoro::Task<AddCalendarResult> adding = target->addCalendarFromUrl(std::move(typed));
            const AddCalendarResult outcome = co_await adding;
            reply(outcome);
        }(s, address, std::move(done));
    };
    source.removeCalendar = [s](const QString &id) {
        [](QPointer<CalendarService> target, QString identifier) -> QCoro::Task<> {
            if (!target)
                co_return;
            QCoro::Task<QString> removing = target->removeCalendar(identifier);
            const QString error = co_await removing;
            if (!error.isEmpty())
                qCInfo(lcCalendar) << "cannot remove calendar" << identifier << error;
        }(s, id);
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

    // Calendars of any service that offers an iCalendar address, on any desktop.
    m_addRow = new QWidget;
    auto *addLayout = new QHBoxLayout(m_addRow);
    addLayout->setContentsMargins(0, 0, 0, 0);
    addLayout->addStretch(1);
    auto *addButton = new QPushButton(QStringLiteral("Add Calendar from URL\u2026"), m_addRow);
    addButton->setObjectName(QStringLiteral("addCalendarButton"));
    addLayout->addWidget(addButton);
    layout->addWidget(m_addRow);
    connect(addButton, &QPushButton::clicked, this, [this] {
        auto *dialog = new AddCalendarDialog(m_source.addCalendar, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
    });
    layout->addStretch(1);

    m_source = calendarPaneSource(service);
    if (service) {
        for (auto signal : {&CalendarService::authorizationStatusChanged, &CalendarService::isEnabledChanged,
                            &CalendarService::eventsChanged, &CalendarService::disabledCalendarIdsChanged})
            connect(service, signal, this, &CalendarSettingsView::reload);
        connect(service, &CalendarService::calendarsChanged, this, &CalendarSettingsView::rebuildCalendars);
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
    m_addRow->setVisible(m_source.hasService);

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
            if (calendar.addedByApp) {
                auto *remove = new QPushButton(QStringLiteral("Remove"), row);
                remove->setObjectName(QStringLiteral("removeCalendarButton"));
                remove->setFlat(true);
                remove->setAccessibleName(QStringLiteral("Remove %1").arg(calendar.title));
                rowLayout->addWidget(remove);
                const QString removed = calendar.identifier;
                connect(remove, &QPushButton::clicked, this, [this, removed] {
                    if (m_source.removeCalendar)
                        m_source.removeCalendar(removed);
                });
            }
            m_calendarsSection->addRow(row);
            const QString id = calendar.identifier;
            connect(box, &TriStateCheckbox::activated, this, [this, id](bool enabled) {
                m_source.setCalendar(id, enabled);
                reload();
            });
        }
    }
}

AddCalendarDialog::AddCalendarDialog(
    std::function<void(const QString &, std::function<void(AddCalendarResult)>)> add, QWidget *parent)
    : QDialog(parent), m_add(std::move(add)) {
    setObjectName(QStringLiteral("addCalendarDialog"));
    setWindowTitle(QStringLiteral("Add Calendar from URL"));
    auto *layout = new QVBoxLayout(this);
    auto *intro =
        new QLabel(QStringLiteral("Paste the address of a calendar in iCalendar format. Google, Outlook, "
                                  "Nextcloud, Fastmail and iCloud show it in the calendar's sharing "
                                  "settings (for example \u201cSecret address in iCal format\u201d)."),
                   this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    m_address = new QLineEdit(this);
    m_address->setObjectName(QStringLiteral("addressField"));
    m_address->setPlaceholderText(QStringLiteral("webcal://example.com/calendar.ics"));
    m_address->setMinimumWidth(420);
    layout->addWidget(m_address);
    m_error = new ToneLabel({}, Tone::Red, this);
    m_error->setObjectName(QStringLiteral("addressError"));
    m_error->setWordWrap(true);
    m_error->hide();
    layout->addWidget(m_error);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_addButton = buttons->addButton(QStringLiteral("Add"), QDialogButtonBox::AcceptRole);
    m_addButton->setObjectName(QStringLiteral("addButton"));
    m_addButton->setDefault(true);
    m_addButton->setEnabled(false);
    layout->addWidget(buttons);
    connect(m_address, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_addButton->setEnabled(!text.trimmed().isEmpty()); });
    connect(buttons, &QDialogButtonBox::accepted, this, &AddCalendarDialog::submit);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void AddCalendarDialog::submit() {
    if (!m_add)
        return;
    m_addButton->setEnabled(false);
    m_address->setEnabled(false);
    m_addButton->setText(QStringLiteral("Checking\u2026"));
    m_error->hide();
    m_add(m_address->text(), [self = QPointer<AddCalendarDialog>(this)](AddCalendarResult result) {
        if (!self)
            return;
        if (result.ok) {
            self->accept();
            return;
        }
        self->m_addButton->setText(QStringLiteral("Add"));
        self->m_addButton->setEnabled(true);
        self->m_address->setEnabled(true);
        self->m_error->setText(result.text);
        self->m_error->show();
        self->m_address->setFocus();
    });
}

} // namespace daybrook

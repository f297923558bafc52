#pragma once

#include "calendar/CalendarService.h"
#include "core/ToggleState.h"
#include "widgets/SettingsWidgets.h"

#include <QDialog>
#include <QPointer>
#include <functional>

class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace daybrook {

class FormSection;
class TriStateCheckbox;

// ---- The calendar line of the Integrations tab ----

struct CalendarRowState {
    bool hasService = false;
    CalendarAuthorization authorizationStatus = CalendarAuthorization::NotDetermined;
    bool isEnabled = false;
    qsizetype eventCount = 0;
};

enum class CalendarRowControl { Connected, Enable, OpenSettings, Connect, Retry };

struct CalendarRowPresentation {
    QString statusText;
    CalendarRowControl control = CalendarRowControl::Connect;
    bool showsDetail = false;
    QString detailText;
};

CalendarRowPresentation presentCalendarRow(const CalendarRowState &state);

// The desktop's own place for calendar accounts, if one is installed.
struct ExternalCommand {
    QString program;
    QStringList arguments;
};
std::optional<ExternalCommand> calendarSettingsCommand();

class CalendarIntegrationRow : public IntegrationRow {
    Q_OBJECT
public:
    explicit CalendarIntegrationRow(CalendarService *service, QWidget *parent = nullptr);

    CalendarRowState currentState() const;
    void applyState(const CalendarRowState &state);
    QString detailText() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();

    QPointer<CalendarService> m_service;
    StatusBadge *m_connectedBadge;
    QPushButton *m_enableButton;
    QWidget *m_deniedControls;
    QPushButton *m_openSettingsButton;
    QPushButton *m_connectButton;
    QPushButton *m_retryButton;
    ToneLabel *m_detailText;
};

// ---- The Calendar tab ----

// Where the tab reads its values and sends its changes; made from the service,
// or from anything else that keeps the same rules (previews).
struct CalendarPaneSource {
    bool hasService = false;
    std::function<qsizetype()> eventCount;
    std::function<QList<CalendarGroup>()> groups;
    std::function<QSet<QString>()> disabledIds;
    std::function<void(const QString &, bool)> setCalendar;
    std::function<void(const QList<Calendar> &, bool)> setCalendars;
    std::function<void()> refresh;
    std::function<void()> disconnect;
    // Answers once, on a later turn of the event loop.
    std::function<void(const QString &, std::function<void(AddCalendarResult)>)> addCalendar;
    std::function<void(const QString &)> removeCalendar;
};
CalendarPaneSource calendarPaneSource(CalendarService *service);

// Groups with an account first, ordered by the account's title (case-insensitive,
// by the user's locale); the group without an account last.
QList<CalendarGroup> sortedCalendarGroups(QList<CalendarGroup> groups);
QString calendarGroupKey(const CalendarGroup &group);
QString calendarGroupTitle(const CalendarGroup &group);
ToggleState calendarGroupState(const CalendarGroup &group, const QSet<QString> &disabledIds);

// Asks for the address of a calendar on the web and subscribes to it; stays
// open with the reason when that fails.
class AddCalendarDialog : public QDialog {
    Q_OBJECT
public:
    AddCalendarDialog(std::function<void(const QString &, std::function<void(AddCalendarResult)>)> add,
                      QWidget *parent = nullptr);

private:
    void submit();

    std::function<void(const QString &, std::function<void(AddCalendarResult)>)> m_add;
    QLineEdit *m_address;
    ToneLabel *m_error;
    QPushButton *m_addButton;
};

class CalendarSettingsView : public QWidget {
    Q_OBJECT
public:
    explicit CalendarSettingsView(CalendarService *service, QWidget *parent = nullptr);

    void setSource(CalendarPaneSource source);
    const QSet<QString> &expandedSources() const { return m_expandedSources; }
    void toggleGroup(const QString &key);
    // Re-reads everything from the source.
    void reload();

private:
    void rebuildCalendars();

    CalendarPaneSource m_source;
    QSet<QString> m_expandedSources;
    ToneLabel *m_eventCount;
    FormSection *m_calendarsSection;
    QWidget *m_addRow;
};

} // namespace daybrook

// Pictures of the settings window for the documentation: every tab, light and
// dark, filled with sample accounts. Runs on the offscreen platform in a
// throw-away home folder, so it neither needs a display nor touches the user's
// settings, keyring or calendars.

#include "app/SettingsView.h"
#include "calendar/CalendarSettingsViews.h"
#include "state/AppState.h"
#include "sun/SunIntegrationRow.h"
#include "todoist/TodoistSettingsViews.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextStream>

using namespace daybrook;

namespace {

QPalette darkPalette() {
    QPalette p;
    const QColor window(0x2a, 0x2a, 0x2c), base(0x1e, 0x1e, 0x20), text(0xe8, 0xe8, 0xea),
        button(0x3a, 0x3a, 0x3c);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, button);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(0x3b, 0x82, 0xf6));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, button.lighter(130));
    p.setColor(QPalette::Midlight, button.lighter(115));
    p.setColor(QPalette::Mid, QColor(0x50, 0x50, 0x52));
    p.setColor(QPalette::Dark, base.darker(130));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::ToolTipBase, button);
    p.setColor(QPalette::ToolTipText, text);
    QColor placeholder = text;
    placeholder.setAlphaF(0.5);
    p.setColor(QPalette::PlaceholderText, placeholder);
    p.setColor(QPalette::Link, QColor(0x6a, 0xa8, 0xff));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        QColor disabled = text;
        disabled.setAlphaF(0.4);
        p.setColor(QPalette::Disabled, role, disabled);
    }
    return p;
}

QDateTime todayAt(int hour, int minute) {
    return QDateTime(QDate::currentDate(), QTime(hour, minute)).toUTC();
}

TodoistProject project(const char *id, const char *name, const char *color, const char *parent = nullptr) {
    TodoistProject p;
    p.id = QString::fromLatin1(id);
    p.name = QString::fromLatin1(name);
    p.color = QString::fromLatin1(color);
    if (parent)
        p.parentId = QString::fromLatin1(parent);
    return p;
}

// The sample project list: a few nested projects, one sub-tree partly hidden.
struct SampleProjects {
    QList<TodoistProject> projects = {
        project("inbox", "Inbox", "grey"),
        project("work", "Work", "blue"),
        project("clients", "Clients", "teal", "work"),
        project("acme", "Acme Corporation relaunch", "green", "clients"),
        project("admin", "Admin", "orange", "work"),
        project("home", "Personal", "red"),
        project("health", "Health", "violet", "home"),
    };
    QSet<QString> disabled = {QStringLiteral("admin")};

    QList<ProjectNode> nodes(const std::optional<QString> &parent, int depth) const {
        QList<ProjectNode> result;
        for (const TodoistProject &p : projects) {
            if (p.parentId == parent)
                result.append({p, depth, nodes(p.id, depth + 1)});
        }
        return result;
    }
    QStringList below(const QString &id) const {
        QStringList result;
        for (const TodoistProject &p : projects) {
            if (p.parentId == id)
                result += QStringList{p.id} + below(p.id);
        }
        return result;
    }
    TodoistPaneSource source() const {
        TodoistPaneSource s;
        s.hasService = true;
        s.tasksWithDueTime = [] { return 3; };
        s.tasksDueToday = [] { return qsizetype(5); };
        s.projectTree = [this] { return nodes(std::nullopt, 0); };
        s.toggleState = [this](const QString &id) {
            const QStringList members = QStringList{id} + below(id);
            qsizetype on = 0;
            for (const QString &m : members)
                on += disabled.contains(m) ? 0 : 1;
            return on == members.size() ? ToggleState::All : on == 0 ? ToggleState::None : ToggleState::Some;
        };
        s.setProjectEnabled = [](const QString &, bool) {};
        s.error = [] { return std::optional<QString>(); };
        s.refresh = [] {};
        s.disconnect = [] {};
        return s;
    }
};

CalendarPaneSource sampleCalendars() {
    const CalendarSource personal{QStringLiteral("personal"), QStringLiteral("Personal")};
    const CalendarSource work{QStringLiteral("work"), QStringLiteral("Work account")};
    const auto calendar = [](const char *id, const char *title, QColor color,
                             std::optional<CalendarSource> source) {
        return Calendar{QString::fromLatin1(id), QString::fromLatin1(title),
                        Color::rgb(color.redF(), color.greenF(), color.blueF()), source};
    };
    const QList<CalendarGroup> groups = {
        {work,
         {calendar("team", "Team", QColor(0x2f, 0x80, 0xed), work),
          calendar("holidays", "Holidays", QColor(0x27, 0xae, 0x60), work)}},
        {personal,
         {calendar("home", "Home", QColor(0xeb, 0x57, 0x57), personal),
          calendar("birthdays", "Birthdays & Anniversaries", QColor(0xf2, 0x99, 0x4a), personal)}},
        {std::nullopt, {calendar("local", "On this computer", QColor(0x9b, 0x51, 0xe0), std::nullopt)}},
    };
    CalendarPaneSource s;
    s.hasService = true;
    s.eventCount = [] { return qsizetype(4); };
    s.groups = [groups] { return groups; };
    s.disabledIds = [] { return QSet<QString>{QStringLiteral("holidays")}; };
    s.setCalendar = [](const QString &, bool) {};
    s.setCalendars = [](const QList<Calendar> &, bool) {};
    s.refresh = [] {};
    s.disconnect = [] {};
    return s;
}

void fillSamples(SettingsView &view, const SampleProjects &projects) {
    QWidget *pane = view.currentPane();
    if (auto *sun = pane->findChild<SunIntegrationRow *>()) {
        SunRowState state;
        state.hasAppState = true;
        state.isEnabled = true;
        state.authorizationStatus = LocationAuthorization::Authorized;
        state.sunrise = todayAt(7, 58);
        state.sunset = todayAt(16, 21);
        sun->applyState(state);
    }
    if (auto *todoist = pane->findChild<TodoistIntegrationRow *>())
        todoist->applyState({true, true, 3, 5, std::nullopt});
    if (auto *calendar = pane->findChild<CalendarIntegrationRow *>())
        calendar->applyState({true, CalendarAuthorization::FullAccess, true, 4});
    if (auto *todoistPane = qobject_cast<TodoistSettingsView *>(pane)) {
        todoistPane->setSource(projects.source());
        todoistPane->toggleProject(QStringLiteral("work"));
        todoistPane->toggleProject(QStringLiteral("clients"));
    }
    if (auto *calendarPane = qobject_cast<CalendarSettingsView *>(pane)) {
        calendarPane->setSource(sampleCalendars());
        calendarPane->toggleGroup(QStringLiteral("work"));
    }
}

} // namespace

int main(int argc, char *argv[]) {
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    for (const char *name :
         {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString path = home.filePath(QString::fromLatin1(name));
        QDir().mkpath(path);
        qputenv(name, QFile::encodeName(path));
    }
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    const QString screens = home.filePath(QStringLiteral("screens.json"));
    QFile config(screens);
    if (!config.open(QIODevice::WriteOnly))
        return 1;
    config.write(
        "{\"synchronousWindowSystemEvents\": true, \"windowFrameMargins\": false, \"screens\": ["
        "{\"name\": \"eDP-1\", \"x\": 0, \"y\": 0, \"width\": 1920, \"height\": 1200, \"logicalDpi\": 96,"
        " \"logicalBaseDpi\": 96, \"dpr\": 1},"
        "{\"name\": \"DP-2\", \"x\": 1920, \"y\": 0, \"width\": 2560, \"height\": 1440, \"logicalDpi\": 96,"
        " \"logicalBaseDpi\": 96, \"dpr\": 1}]}");
    config.close();
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + QFile::encodeName(screens));

    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(folder);

    AppState state;
    state.setSelectedScreenName(QStringLiteral("eDP-1"));
    SampleProjects projects;
    const QPalette light = QApplication::style()->standardPalette();
    const std::pair<const char *, QPalette> themes[] = {{"light", light}, {"dark", darkPalette()}};
    const SettingsTab tabs[] = {SettingsTab::General, SettingsTab::Integrations, SettingsTab::Todoist,
                                SettingsTab::Calendar, SettingsTab::About};
    QTextStream out(stdout);
    for (const auto &[themeName, palette] : themes) {
        QApplication::setPalette(palette);
        for (SettingsTab tab : tabs) {
            SettingsView view(&state, nullptr, nullptr);
            view.setAvailabilityOverride([] {
                return TabAvailability{true, true, true, CalendarAuthorization::FullAccess};
            });
            view.resize(SettingsView::viewWidth, SettingsView::viewHeight);
            view.setSelectedTab(tab);
            view.show();
            fillSamples(view, projects);
            for (int i = 0; i < 3; ++i)
                QCoreApplication::processEvents();
            const QString file = QDir(folder).filePath(
                QStringLiteral("settings-%1-%2.png").arg(rawValue(tab), QString::fromLatin1(themeName)));
            if (!view.grab().save(file)) {
                out << "cannot write " << file << Qt::endl;
                return 1;
            }
            out << file << Qt::endl;
        }
    }
    return 0;
}

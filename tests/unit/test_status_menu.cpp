#include "BuildConfig.h"
#include "app/AppDelegate.h"
#include "app/SettingsView.h"
#include "app/SettingsWindow.h"
#include "app/StatusMenu.h"
#include "bar/FloatingBarPanel.h"
#include "core/Notifications.h"
#include "core/UserDefaults.h"
#include "platform/Autostart.h"
#include "state/AppState.h"
#include "support/OffscreenScreens.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

using namespace daybrook;

namespace {
QStringList titles(const QMenu &menu) {
    QStringList result;
    for (const QAction *action : menu.actions())
        result.append(action->isSeparator() ? QStringLiteral("--") : action->text());
    return result;
}

QAction *item(QMenu &menu, const QString &title) {
    for (QAction *action : menu.actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}
} // namespace

class StatusMenuTest : public QObject {
    Q_OBJECT

    std::unique_ptr<AppDelegate> m_delegate;

    AppDelegate &launch() {
        m_delegate = std::make_unique<AppDelegate>();
        m_delegate->applicationDidFinishLaunching();
        return *m_delegate;
    }

    // The menu as it is when the user opens it.
    QMenu &openMenu() {
        QMenu *menu = m_delegate->statusMenu()->menu();
        Q_EMIT menu->aboutToShow();
        return *menu;
    }

    QMenu *displayMenu(QMenu &menu) {
        QAction *display = item(menu, QStringLiteral("Display"));
        return display ? display->menu() : nullptr;
    }

private Q_SLOTS:
    void init() { test::resetUserDefaults(); }
    void cleanup() {
        m_delegate.reset();
        QFile::remove(Autostart::entryPath());
    }

    void listsEveryItemInOrder() {
        QCOMPARE(QGuiApplication::screens().size(), 3);
        launch();
        QMenu &menu = openMenu();
        const QStringList expected = {QStringLiteral("Hide Bar"),
                                      QStringLiteral("Always Expanded"),
                                      QStringLiteral("Start on Login"),
                                      QStringLiteral("Display"),
                                      QStringLiteral("--"),
                                      QStringLiteral("Version: ") + QString::fromUtf8(build::version),
                                      QStringLiteral("Check for Updates..."),
                                      QStringLiteral("About Daybrook"),
                                      QStringLiteral("Settings..."),
                                      QStringLiteral("--"),
                                      QStringLiteral("Quit")};
        QCOMPARE(titles(menu), expected);

        for (QAction *action : menu.actions()) {
            if (action->isSeparator())
                continue;
            const bool isVersion = action->text().startsWith(QLatin1String("Version: "));
            QCOMPARE(action->isEnabled(), !isVersion);
        }
        QCOMPARE(item(menu, QStringLiteral("Settings..."))->shortcut(),
                 QKeySequence(Qt::CTRL | Qt::Key_Comma));
        QCOMPARE(item(menu, QStringLiteral("Quit"))->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        QVERIFY(item(menu, QStringLiteral("Hide Bar"))->shortcut().isEmpty());
        QVERIFY(!item(menu, QStringLiteral("Version: ") + QString::fromUtf8(build::version))->isCheckable());

        // Fresh state: bar shown, not pinned, no login entry.
        QVERIFY(!item(menu, QStringLiteral("Hide Bar"))->isChecked());
        QVERIFY(!item(menu, QStringLiteral("Always Expanded"))->isChecked());
        QVERIFY(!item(menu, QStringLiteral("Start on Login"))->isChecked());

        // Opening again rebuilds rather than appends, and old submenus go.
        openMenu();
        QCOMPARE(titles(menu), expected);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(menu.findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
    }

    void hideBarTogglesThePanel() {
        AppDelegate &delegate = launch();
        FloatingBarPanel *panel = delegate.floatingBarWindow();
        QVERIFY(panel && panel->isVisible());

        item(openMenu(), QStringLiteral("Hide Bar"))->trigger();
        QVERIFY(!panel->isVisible());
        QVERIFY(item(openMenu(), QStringLiteral("Hide Bar"))->isChecked());
        QCOMPARE(item(openMenu(), QStringLiteral("Hide Bar"))->text(), QStringLiteral("Hide Bar"));

        item(openMenu(), QStringLiteral("Hide Bar"))->trigger();
        QVERIFY(panel->isVisible());
        QVERIFY(!item(openMenu(), QStringLiteral("Hide Bar"))->isChecked());
    }

    void alwaysExpandedPinsAndIsStored() {
        AppDelegate &delegate = launch();
        FloatingBarPanel *panel = delegate.floatingBarWindow();

        item(openMenu(), QStringLiteral("Always Expanded"))->trigger();
        QVERIFY(delegate.appState()->alwaysExpanded());
        QVERIFY(panel->isExpanded());
        QCOMPARE(UserDefaults::boolValue(QStringLiteral("alwaysExpanded")), std::optional<bool>(true));
        QVERIFY(item(openMenu(), QStringLiteral("Always Expanded"))->isChecked());

        item(openMenu(), QStringLiteral("Always Expanded"))->trigger();
        QVERIFY(!delegate.appState()->alwaysExpanded());
        QVERIFY(!panel->isExpanded());
        QCOMPARE(UserDefaults::boolValue(QStringLiteral("alwaysExpanded")), std::optional<bool>(false));
        QVERIFY(!item(openMenu(), QStringLiteral("Always Expanded"))->isChecked());
    }

    void startOnLoginWritesTheAutostartEntry() {
        launch();
        item(openMenu(), QStringLiteral("Start on Login"))->trigger();
        QVERIFY(QFile::exists(Autostart::entryPath()));
        QVERIFY(item(openMenu(), QStringLiteral("Start on Login"))->isChecked());
        item(openMenu(), QStringLiteral("Start on Login"))->trigger();
        QVERIFY(!QFile::exists(Autostart::entryPath()));
        QVERIFY(!item(openMenu(), QStringLiteral("Start on Login"))->isChecked());
    }

    void displayChoiceStoresTheNameAndMovesTheBar() {
        AppDelegate &delegate = launch();
        const QList<QScreen *> screens = QGuiApplication::screens();
        FloatingBarPanel *panel = delegate.floatingBarWindow();
        QCOMPARE(panel->currentScreen(), QGuiApplication::primaryScreen());

        QMenu *display = displayMenu(openMenu());
        QVERIFY(display);
        QCOMPARE(display->actions().size(), screens.size());
        for (int i = 0; i < screens.size(); ++i) {
            QCOMPARE(display->actions().at(i)->text(), screens.at(i)->name());
            QCOMPARE(display->actions().at(i)->data().toInt(), i);
            QCOMPARE(display->actions().at(i)->isChecked(), screens.at(i) == panel->currentScreen());
        }

        QSignalSpy posted(&Notifications::instance(), &Notifications::didSelectScreen);
        display->actions().at(1)->trigger();
        QCOMPARE(delegate.appState()->selectedScreenName(), screens.at(1)->name());
        QCOMPARE(UserDefaults::stringValue(QStringLiteral("selectedScreenName")), screens.at(1)->name());
        QCOMPARE(posted.size(), 1);
        QCOMPARE(panel->currentScreen(), screens.at(1));
        QVERIFY(screens.at(1)->geometry().intersects(panel->geometry()));

        display = displayMenu(openMenu());
        QVERIFY(!display->actions().at(0)->isChecked());
        QVERIFY(display->actions().at(1)->isChecked());
        QVERIFY(!display->actions().at(2)->isChecked());

        // A screen index that no longer exists changes nothing.
        delegate.selectScreen(int(screens.size()));
        delegate.selectScreen(-1);
        QCOMPARE(posted.size(), 1);
        QCOMPARE(delegate.appState()->selectedScreenName(), screens.at(1)->name());

        // After a restart the bar comes up on the chosen screen.
        m_delegate.reset();
        UserDefaults::reload();
        AppDelegate &restarted = launch();
        QCOMPARE(restarted.floatingBarWindow()->currentScreen(), screens.at(1));
    }

    void settingsAndAboutOpenOneWindow() {
        AppDelegate &delegate = launch();
        FloatingBarPanel *panel = delegate.floatingBarWindow();

        item(openMenu(), QStringLiteral("Settings..."))->trigger();
        QPointer<SettingsWindow> window = delegate.settingsWindow();
        QVERIFY(window && window->isVisible());
        QVERIFY(delegate.appState()->isSettingsOpen());
        QVERIFY(panel->isExpanded());
        QCOMPARE(window->view()->selectedTab(), SettingsTab::General);

        // Reused as it is: the tab stays.
        window->view()->setSelectedTab(SettingsTab::Integrations);
        item(openMenu(), QStringLiteral("Settings..."))->trigger();
        QCOMPARE(delegate.settingsWindow(), window.data());
        QCOMPARE(window->view()->selectedTab(), SettingsTab::Integrations);

        item(openMenu(), QStringLiteral("About Daybrook"))->trigger();
        QCOMPARE(delegate.settingsWindow(), window.data());
        QCOMPARE(window->view()->selectedTab(), SettingsTab::About);

        // The bar stays expanded while the window is open.
        panel->collapse();
        QVERIFY(panel->isExpanded());

        window->close();
        QVERIFY(!delegate.appState()->isSettingsOpen());
        QVERIFY(!panel->isExpanded());
        QVERIFY(!delegate.settingsWindow());
        QTRY_VERIFY(window.isNull());

        // A new window starts on General, unless About asked for.
        item(openMenu(), QStringLiteral("About Daybrook"))->trigger();
        QVERIFY(delegate.settingsWindow());
        QCOMPARE(delegate.settingsWindow()->view()->selectedTab(), SettingsTab::About);
        delegate.settingsWindow()->close();
        item(openMenu(), QStringLiteral("Settings..."))->trigger();
        QCOMPARE(delegate.settingsWindow()->view()->selectedTab(), SettingsTab::General);
        delegate.settingsWindow()->close();
    }

    void closingWhilePinnedLeavesTheBarExpanded() {
        AppDelegate &delegate = launch();
        FloatingBarPanel *panel = delegate.floatingBarWindow();
        item(openMenu(), QStringLiteral("Always Expanded"))->trigger();
        delegate.openSettings();
        delegate.settingsWindow()->close();
        QVERIFY(panel->isExpanded());
    }

    void secondLaunchOpensSettings() {
        AppDelegate &delegate = launch();
        QVERIFY(!delegate.settingsWindow());
        delegate.handleActivation();
        QVERIFY(delegate.settingsWindow() && delegate.settingsWindow()->isVisible());
        QPointer<SettingsWindow> first = delegate.settingsWindow();
        delegate.handleActivation();
        QCOMPARE(delegate.settingsWindow(), first.data());
        first->close();
    }

    void withoutATrayTheProgramSaysHowToReachSettings() {
        const QString binary = qEnvironmentVariable("DAYBROOK_BINARY");
        if (binary.isEmpty())
            QSKIP("DAYBROOK_BINARY is not set");
        QProcess first;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        first.setProcessEnvironment(environment);
        first.start(binary, {});
        QVERIFY(first.waitForStarted());
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += first.readAllStandardOutput()).contains("again"), 10000);

        // A second launch hands over to the first and leaves at once.
        QProcess second;
        second.setProcessEnvironment(environment);
        second.start(binary, {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QTest::qWait(200);
        output += first.readAllStandardOutput();
        first.kill();
        first.waitForFinished();
        QCOMPARE(QString::fromUtf8(output).split(QLatin1Char('\n')).count(StatusMenu::noTrayMessage()), 1);
    }
};

int main(int argc, char *argv[]) {
    // Three virtual screens side by side.
    const QByteArray screens = R"(
        {"name": "DP-1", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "HDMI-1", "x": 1920, "y": 0, "width": 1280, "height": 1024, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "DP-2", "x": 3200, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1})";
    return test::runOnScreens(argc, argv, screens, [&] {
        QApplication::setQuitOnLastWindowClosed(false);
        StatusMenuTest test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_status_menu.moc"

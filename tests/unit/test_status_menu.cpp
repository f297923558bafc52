#include "app/AppDelegate.h"
#include "app/SettingsView.h"
#include "app/SettingsWindow.h"
#include "app/StatusMenu.h"
#include "bar/BarGeometry.h"
#include "bar/FloatingBarPanel.h"
#include "core/Notifications.h"
#include "core/UserDefaults.h"
#include "platform/Autostart.h"
#include "state/AppState.h"
#include "support/OffscreenScreens.h"
#include "support/TestEnvironment.h"
#include "support/WidgetFinders.h"

#include <QtTest>
#include <QtWidgets>

using namespace daybrook;

namespace {
QAction *item(QMenu &menu, const QString &title) {
    const QList<QAction *> actions = menu.actions();
    return *std::find_if(actions.begin(), actions.end(), [&](QAction *a) { return a->text() == title; });
}
} // namespace

class StatusMenuTest : public QObject {
    Q_OBJECT

    std::unique_ptr<AppDelegate> m_delegate;

    AppDelegate &launch(AppState *state = nullptr) {
        m_delegate = std::make_unique<AppDelegate>(state);
        m_delegate->applicationDidFinishLaunching();
        return *m_delegate;
    }

    // The menu as it is when the user opens it.
    QMenu &openMenu() {
        QMenu *menu = m_delegate->statusMenu()->menu();
        Q_EMIT menu->aboutToShow();
        return *menu;
    }

    QMenu *displayMenu(QMenu &menu) { return item(menu, QStringLiteral("Display"))->menu(); }

    // The bar sits on `index`, hanging under that screen's top panel, and only it is ticked.
    void verifyOnScreen(int index) {
        QScreen *screen = QGuiApplication::screens().at(index);
        FloatingBarPanel *panel = m_delegate->floatingBarWindow();
        QCOMPARE(panel->currentScreen(), screen);
        QCOMPARE(panel->panelFrame(), barFrame(screen->geometry(), screen->availableGeometry()));
        const QList<QAction *> actions = displayMenu(openMenu())->actions();
        for (int i = 0; i < actions.size(); ++i)
            QCOMPARE(actions.at(i)->isChecked(), i == index);
    }

private Q_SLOTS:
    void init() { test::resetUserDefaults(); }
    void cleanup() {
        m_delegate.reset();
        QFile::remove(Autostart::entryPath());
    }

    void rebuildsTheMenuAtEachOpening() {
        launch();
        QMenu &menu = openMenu();
        openMenu(); // a second opening replaces the items, it does not add to them
        QCOMPARE(menu.actions().size(), 11);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(menu.findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
        // Only the version is disabled.
        for (QAction *action : menu.actions())
            QCOMPARE(action->isEnabled(), !action->text().startsWith(QLatin1String("Version: ")));
    }

    // Each toggle acts, and the next menu shows the new state.
    void togglesActAndShowTheirState() {
        FloatingBarPanel *panel = launch().floatingBarWindow();
        const auto toggle = [&](const char *title) {
            item(openMenu(), QString::fromLatin1(title))->trigger();
            return item(openMenu(), QString::fromLatin1(title))->isChecked();
        };
        QVERIFY(panel->isVisible() && !item(openMenu(), QStringLiteral("Hide Bar"))->isChecked());
        QVERIFY(toggle("Hide Bar") && !panel->isVisible());
        QVERIFY(!toggle("Hide Bar") && panel->isVisible());

        const auto pinStored = [] { return UserDefaults::boolValue(QStringLiteral("alwaysExpanded")); };
        QVERIFY(toggle("Always Expanded") && panel->isExpanded() && pinStored() == true);
        QVERIFY(!toggle("Always Expanded") && !panel->isExpanded() && pinStored() == false);

        QVERIFY(toggle("Start on Login") && QFile::exists(Autostart::entryPath()));
        QVERIFY(!toggle("Start on Login") && !QFile::exists(Autostart::entryPath()));
    }

    void namesScreensByMonitorAndConnector() {
        for (const auto &[model, maker, title] :
             {std::tuple{"DELL U2720Q", "Dell Inc.", "DELL U2720Q (DP-1)"},
              {"", "Dell Inc.", "Dell Inc. (DP-1)"},
              {" ", "", "DP-1"},
              {"DP-1", "", "DP-1"}})
            QCOMPARE(StatusMenu::screenTitle(QString::fromUtf8(model), QString::fromUtf8(maker),
                                             QStringLiteral("DP-1")),
                     QString::fromUtf8(title));
    }

    void panelFrameHangsUnderTheTopPanel() {
        // A 32-px top panel: the bar's centre line (25 px into the frame) lies 3 px below it.
        QCOMPARE(barFrame(QRect(0, 0, 1920, 1080), QRect(0, 32, 1920, 1048)), QRect(0, 10, 1920, 150));
        // Width and x follow the whole screen, not the available area (a side dock).
        QCOMPARE(barFrame(QRect(-1920, 0, 1920, 1200), QRect(-1856, 27, 1856, 1173)),
                 QRect(-1920, 5, 1920, 150));
        // No top panel at all: the panel reaches above the screen's top edge.
        QCOMPARE(barFrame(QRect(0, 0, 800, 600), QRect(0, 0, 800, 600)).top(), -22);
    }

    void theStoredScreenWinsAndTheMenuMovesTheBar() {
        const QList<QScreen *> screens = QGuiApplication::screens();
        QCOMPARE(AppDelegate::chooseScreen(QStringLiteral("HDMI-9")), QGuiApplication::primaryScreen());
        // Two screens named DP-2: the first in the list.
        auto *state = new AppState(this);
        state->setSelectedScreenName(QStringLiteral("DP-2"));
        AppDelegate &delegate = launch(state);
        verifyOnScreen(1);
        // The offscreen screens report no monitor name: the connectors stand alone.
        QMenu *display = displayMenu(openMenu());
        QCOMPARE(display->actions().size(), screens.size());
        QCOMPARE(display->actions().at(2)->text(), screens.at(2)->name());

        QSignalSpy posted(&Notifications::instance(), &Notifications::didSelectScreen);
        display->actions().at(0)->trigger();
        QCOMPARE(UserDefaults::stringValue(QStringLiteral("selectedScreenName")), QStringLiteral("DP-1"));
        QCOMPARE(posted.size(), 1);
        verifyOnScreen(0);
        // The handler itself never stores the name: the poster already did.
        Notifications::instance().postDidSelectScreen(QStringLiteral("DP-2"));
        verifyOnScreen(1);
        // A screen that is not attached changes nothing.
        delegate.selectScreen(int(screens.size()));
        delegate.selectScreen(-1);
        Notifications::instance().postDidSelectScreen(QStringLiteral("VGA-7"));
        QCOMPARE(posted.size(), 3); // the menu's and the two direct posts
        verifyOnScreen(1);
        QCOMPARE(state->selectedScreenName(), QStringLiteral("DP-1"));
    }

    void settingsAboutAndActivationShareOneWindow() {
        AppDelegate &delegate = launch();
        FloatingBarPanel *panel = delegate.floatingBarWindow();
        const auto choose = [&](const char *title) {
            item(openMenu(), QString::fromLatin1(title))->trigger();
            return delegate.settingsWindow() ? delegate.settingsWindow()->view()->selectedTab()
                                             : SettingsTab(-1);
        };
        QCOMPARE(choose("Settings..."), SettingsTab::General);
        QPointer<SettingsWindow> window = delegate.settingsWindow();
        QVERIFY(window->isVisible() && delegate.appState()->isSettingsOpen() && panel->isExpanded());
        // Its screen picker moves the bar, and shows a change made elsewhere.
        auto *picker = test::child<QComboBox>(window->view()->currentPane(), "screenPicker");
        QSignalSpy posted(&Notifications::instance(), &Notifications::didSelectScreen);
        test::press(picker, {Qt::Key_End}); // the second DP-2: the bar goes to the first
        QVERIFY(delegate.appState()->selectedScreenName() == "DP-2" && posted.size() == 1);
        verifyOnScreen(1);
        delegate.appState()->setSelectedScreenName("DP-1");
        QCOMPARE(picker->currentIndex(), 0);
        verifyOnScreen(0);
        delegate.appState()->setSelectedScreenName("gone");
        QCOMPARE(picker->currentIndex(), -1);
        // Reused as it is: the tab stays, About switches it, a second launch brings it forward.
        window->view()->setSelectedTab(SettingsTab::Integrations);
        QCOMPARE(choose("Settings..."), SettingsTab::Integrations);
        delegate.handleActivation();
        QCOMPARE(choose("About Daybrook"), SettingsTab::About);
        QCOMPARE(delegate.settingsWindow(), window.data());
        // The bar stays expanded while the window is open.
        panel->collapse();
        QVERIFY(panel->isExpanded());
        QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier); // closes like a panel
        QVERIFY(!delegate.appState()->isSettingsOpen() && !panel->isExpanded() && !delegate.settingsWindow());
        QTRY_VERIFY(window.isNull());
        // A new window starts on General, unless About asked for it.
        QCOMPARE(choose("About Daybrook"), SettingsTab::About);
        delegate.settingsWindow()->close();
        delegate.handleActivation();
        QCOMPARE(delegate.settingsWindow()->view()->selectedTab(), SettingsTab::General);
        // Closing while pinned leaves the bar expanded.
        item(openMenu(), QStringLiteral("Always Expanded"))->trigger();
        delegate.settingsWindow()->close();
        QVERIFY(panel->isExpanded());
    }

    void withoutATrayTheProgramSaysHowToReachSettings() {
        const QString binary = qEnvironmentVariable("DAYBROOK_BINARY");
        QProcess first; // offscreen, as the test itself: no tray
        first.start(binary, {});
        QVERIFY(first.waitForStarted());
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += first.readAllStandardOutput()).contains("again"), 10000);

        // A second launch hands over to the first and leaves at once.
        QProcess second;
        second.start(binary, {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QVERIFY(!second.readAllStandardOutput().contains("again"));
        QCOMPARE(QString::fromUtf8(output).count(StatusMenu::noTrayMessage()), 1);
        first.kill();
        first.waitForFinished();
    }
};

int main(int argc, char *argv[]) {
    // Three virtual screens, two of them sharing a name.
    const QByteArray screens = R"(
        {"name": "DP-1", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "DP-2", "x": 1920, "y": 0, "width": 2560, "height": 1440, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "DP-2", "x": -1280, "y": 0, "width": 1280, "height": 1024, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1})";
    return test::runOnScreens(argc, argv, screens, [&] {
        QApplication::setQuitOnLastWindowClosed(false);
        StatusMenuTest test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_status_menu.moc"

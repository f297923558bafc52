#include "app/AppDelegate.h"
#include "bar/BarGeometry.h"
#include "bar/FloatingBarPanel.h"
#include "core/Notifications.h"
#include "support/OffscreenScreens.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

using namespace daybrook;

class ScreenChoiceTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { test::resetUserDefaults(); }

    void panelFrameHangsUnderTheTopPanel() {
        // A 32-px top panel: the bar's centre line lies 3 px below it.
        const QRect frame = barFrame(QRect(0, 0, 1920, 1080), QRect(0, 32, 1920, 1048));
        QCOMPARE(frame, QRect(0, 10, 1920, 150));
        QCOMPARE(frame.top() + barCenterY, 32 + 3.0);
        // Width and x follow the whole screen, not the available area (a side dock).
        QCOMPARE(barFrame(QRect(-1920, 0, 1920, 1200), QRect(-1856, 27, 1856, 1173)),
                 QRect(-1920, 5, 1920, 150));
        // No top panel at all: the panel reaches above the screen's top edge.
        QCOMPARE(barFrame(QRect(0, 0, 800, 600), QRect(0, 0, 800, 600)).top(), -22);
    }

    void theNamedScreenWinsElseThePrimary() {
        const QList<QScreen *> screens = QGuiApplication::screens();
        QCOMPARE(screens.size(), 3);
        QCOMPARE(AppDelegate::chooseScreen(QString()), QGuiApplication::primaryScreen());
        QCOMPARE(AppDelegate::chooseScreen(QStringLiteral("HDMI-9")), QGuiApplication::primaryScreen());
        QCOMPARE(AppDelegate::chooseScreen(QStringLiteral("DP-2")), screens.at(1));
        // Two screens of one name: the first in the list.
        QCOMPARE(screens.at(2)->name(), QStringLiteral("DP-2"));
        QCOMPARE(AppDelegate::chooseScreen(QStringLiteral("DP-2")), screens.at(1));
    }

    void launchPlacesTheBarAndSelectionMovesIt() {
        auto *state = new AppState;
        state->setSelectedScreenName(QStringLiteral("DP-2"));
        AppDelegate delegate(state);
        delegate.applicationDidFinishLaunching();
        FloatingBarPanel *panel = delegate.floatingBarWindow();
        QScreen *second = QGuiApplication::screens().at(1);
        QCOMPARE(panel->currentScreen(), second);
        QCOMPARE(panel->panelFrame(), barFrame(second->geometry(), second->availableGeometry()));

        Notifications::instance().postDidSelectScreen(QStringLiteral("DP-1"));
        QScreen *first = QGuiApplication::screens().at(0);
        QCOMPARE(panel->currentScreen(), first);
        QCOMPARE(panel->panelFrame(), barFrame(first->geometry(), first->availableGeometry()));
        // The handler itself never stores the name: the poster already did.
        QCOMPARE(state->selectedScreenName(), QStringLiteral("DP-2"));

        // A name that is not attached changes nothing.
        Notifications::instance().postDidSelectScreen(QStringLiteral("VGA-7"));
        QCOMPARE(panel->currentScreen(), first);
    }
};

int main(int argc, char *argv[]) {
    // Three virtual screens, two of them sharing a name.
    const QByteArray screens = R"(
        {"name": "DP-1", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "DP-2", "x": 1920, "y": 0, "width": 2560, "height": 1440, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1},
        {"name": "DP-2", "x": -1280, "y": 0, "width": 1280, "height": 1024, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1})";
    return test::runOnScreens(argc, argv, screens, [&] {
        ScreenChoiceTest test;
        return QTest::qExec(&test, argc, argv);
    });
}

#include "test_screen_choice.moc"

#include "core/Clock.h"
#include "core/UserDefaults.h"
#include "platform/Autostart.h"
#include "state/AppState.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace daybrook;

namespace {
// What a later launch reads: the store is re-read from the file.
std::unique_ptr<AppState> launch() {
    UserDefaults::reload();
    return std::make_unique<AppState>();
}

void writeStore(const QByteArray &ini) {
    UserDefaults::reload();
    QFile file(UserDefaults::filePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\n" + ini);
    file.close();
    UserDefaults::reload();
}

class FailingAutostart : public Autostart {
public:
    bool isEnabled() const override { return false; }
    bool setEnabled(bool, QString *error) override {
        *error = QStringLiteral("read-only file system");
        return false;
    }
};
} // namespace

class AppStateTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { test::resetUserDefaults(); }
    void cleanup() { Clock::reset(); }

    void firstLaunchAppliesDefaultsOnce() {
        auto state = launch();
        QCOMPARE(state->dayStartHour(), 7);
        QCOMPARE(state->dayEndHour(), 21);
        QCOMPARE(state->alwaysExpanded(), false);
        QCOMPARE(state->selectedScreenName(), QString());
        QCOMPARE(state->appearanceMode(), AppearanceMode::System);
        QCOMPARE(state->preventScreenRecording(), true);

        UserDefaults::reload();
        QCOMPARE(UserDefaults::intValue("dayStartHour"), 7);
        QCOMPARE(UserDefaults::intValue("dayEndHour"), 21);
        QCOMPARE(UserDefaults::boolValue("dayStartHourSet"), true);
        QCOMPARE(UserDefaults::boolValue("preventScreenRecording"), true);
        QCOMPARE(UserDefaults::boolValue("preventScreenRecordingSet"), true);
        // Nothing else is written at first launch.
        QVERIFY(!UserDefaults::contains("alwaysExpanded"));
        QVERIFY(!UserDefaults::contains("appearanceMode"));
    }

    void midnightSurvivesARestart() {
        launch()->setDayStartHour(0);
        auto state = launch();
        QCOMPARE(state->dayStartHour(), 0);
    }

    void storedValuesRestore_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<bool>("protection");
        QTest::addColumn<int>("mode");
        QTest::newRow("end 0 reads as 21")
            << QByteArray("dayStartHourSet=true\ndayStartHour=8\ndayEndHour=0\n") << 8 << 21 << true
            << int(AppearanceMode::System);
        QTest::newRow("start 0 before the marker reads as 7")
            << QByteArray("dayStartHour=0\ndayEndHour=20\n") << 7 << 20 << true
            << int(AppearanceMode::System);
        QTest::newRow("protection off once chosen")
            << QByteArray("preventScreenRecordingSet=true\npreventScreenRecording=false\n") << 7 << 21
            << false << int(AppearanceMode::System);
        QTest::newRow("protection off without the marker is on")
            << QByteArray("preventScreenRecording=false\n") << 7 << 21 << true << int(AppearanceMode::System);
        QTest::newRow("capital Dark is system")
            << QByteArray("appearanceMode=Dark\n") << 7 << 21 << true << int(AppearanceMode::System);
        QTest::newRow("dark") << QByteArray("appearanceMode=dark\n") << 7 << 21 << true
                              << int(AppearanceMode::Dark);
        QTest::newRow("reversed range is kept")
            << QByteArray("dayStartHourSet=true\ndayStartHour=22\ndayEndHour=8\n") << 22 << 8 << true
            << int(AppearanceMode::System);
        QTest::newRow("wrong types read as absent")
            << QByteArray("dayStartHourSet=yes\ndayStartHour=seven\ndayEndHour=@Variant(garbage)\n") << 7
            << 21 << true << int(AppearanceMode::System);
    }
    void storedValuesRestore() {
        QFETCH(QByteArray, ini);
        writeStore(ini);
        auto state = launch();
        QTEST(state->dayStartHour(), "start");
        QTEST(state->dayEndHour(), "end");
        QTEST(state->preventScreenRecording(), "protection");
        QTEST(int(state->appearanceMode()), "mode");
    }

    void everyWriteIsStoredAndNotified() {
        auto state = launch();
        QSignalSpy spy(state.get(), &AppState::alwaysExpandedChanged);
        state->setAlwaysExpanded(true);
        state->setAlwaysExpanded(true); // an equal value still counts
        QCOMPARE(spy.count(), 2);
        state->setSelectedScreenName(QStringLiteral("HDMI-1, left"));
        state->setAppearanceMode(AppearanceMode::Light);
        state->setPreventScreenRecording(false);
        state->setDayEndHour(24);

        auto restarted = launch();
        QCOMPARE(restarted->alwaysExpanded(), true);
        QCOMPARE(restarted->selectedScreenName(), QStringLiteral("HDMI-1, left"));
        QCOMPARE(restarted->appearanceMode(), AppearanceMode::Light);
        QCOMPARE(restarted->preventScreenRecording(), false);
        QCOMPARE(restarted->dayEndHour(), 24);
    }

    void darkModeFollowsTheChosenMode() {
        auto state = launch();
        state->setAppearanceMode(AppearanceMode::Dark);
        QCOMPARE(state->isDarkMode(), true);
        state->setAppearanceMode(AppearanceMode::Light);
        QCOMPARE(state->isDarkMode(), false);
        // The start-up resolution is deferred to the event loop, after construction.
        writeStore("appearanceMode=dark\n");
        auto dark = launch();
        QCOMPARE(dark->isDarkMode(), false);
        QTRY_COMPARE(dark->isDarkMode(), true);
    }

    void refreshGateWaitsSixtySeconds() {
        const QDateTime start = QDateTime(QDate(2026, 5, 4), QTime(10, 0), Qt::UTC);
        Clock::freezeAt(start);
        auto state = launch();
        QSignalSpy finished(state.get(), &AppState::refreshFinished);

        state->refreshIfNeeded(); // never refreshed: always refreshes
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(state->lastRefreshTime(), start);

        Clock::freezeAt(start.addSecs(59));
        state->refreshIfNeeded();
        QTest::qWait(50);
        QCOMPARE(finished.count(), 1);

        Clock::freezeAt(start.addSecs(60));
        state->refreshIfNeeded();
        QTRY_COMPARE(finished.count(), 2);
        QCOMPARE(state->lastRefreshTime(), start.addSecs(60));
    }

    void refreshTimerRunsEveryFifteenMinutes() {
        auto state = launch();
        QVERIFY(state->refreshTimer());
        QVERIFY(state->refreshTimer()->isActive());
        QCOMPARE(state->refreshTimer()->interval(), 900 * 1000);
        QVERIFY(!state->refreshTimer()->isSingleShot());
    }

    void launchAtLoginUsesTheAutostartEntry() {
        auto state = launch();
        QCOMPARE(state->launchAtLogin(), false);
        state->setLaunchAtLogin(true);
        QCOMPARE(state->launchAtLogin(), true);
        QVERIFY(QFile::exists(Autostart::entryPath()));
        state->setLaunchAtLogin(false);
        QCOMPARE(state->launchAtLogin(), false);
    }

    void launchAtLoginFailureIsOnlyPrinted() {
        AppStateDependencies deps;
        deps.autostart = std::make_shared<FailingAutostart>();
        AppState state(std::move(deps));
        state.setLaunchAtLogin(true); // prints, changes nothing, does not throw
        QCOMPARE(state.launchAtLogin(), false);
    }
};

QTEST_MAIN(AppStateTest)
#include "test_app_state.moc"

#include "core/Clock.h"
#include "core/Logging.h"
#include "core/Notifications.h"
#include "core/UserDefaults.h"
#include "platform/Autostart.h"
#include "state/AppState.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <sys/inotify.h>
#include <unistd.h>

using namespace daybrook;

namespace {
// What a later launch reads: the store is re-read from the file.
std::unique_ptr<AppState> launch() {
    UserDefaults::reload();
    return std::make_unique<AppState>();
}

void writeStore(const QByteArray &ini) {
    UserDefaults::reload();
    QDir().mkpath(QFileInfo(UserDefaults::filePath()).path());
    QFile file(UserDefaults::filePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[General]\n" + ini);
    file.close();
    UserDefaults::reload();
}

} // namespace

class AppStateTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { test::resetUserDefaults(); }
    void cleanup() { Clock::reset(); }

    void storedValuesRestore_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("end");
        QTest::addColumn<bool>("protection");
        QTest::addColumn<QString>("mode");
        for (const auto &[name, ini, start, end, protection, mode] : {
                 std::tuple{"start 0 after the marker is midnight", "dayStartHourSet=true\ndayStartHour=0", 0,
                            21, true, "system"},
                 {"end 0 reads as 21", "dayStartHourSet=true\ndayStartHour=8\ndayEndHour=0", 8, 21, true,
                  "system"},
                 {"start 0 before the marker reads as 7", "dayStartHour=0\ndayEndHour=20", 7, 20, true,
                  "system"},
                 {"protection off once chosen",
                  "preventScreenRecordingSet=true\npreventScreenRecording=false", 7, 21, false, "system"},
                 {"protection off without the marker is on", "preventScreenRecording=false", 7, 21, true,
                  "system"},
                 {"capital Dark is system", "appearanceMode=Dark", 7, 21, true, "system"},
                 {"dark", "appearanceMode=dark", 7, 21, true, "dark"},
                 {"reversed range is kept", "dayStartHourSet=true\ndayStartHour=22\ndayEndHour=8", 22, 8,
                  true, "system"},
                 // Hostile local state: numbers no settings window writes.
                 {"hours beyond their range are clamped",
                  "dayStartHourSet=true\ndayStartHour=-2147483648\ndayEndHour=2147483647", 0, 24, true,
                  "system"},
                 {"hours beyond 32 bits are clamped", "dayStartHour=99999999999\ndayEndHour=-99999999999", 23,
                  21, true, "system"},
                 {"wrong types read as absent",
                  "dayStartHourSet=yes\ndayStartHour=seven\ndayEndHour=@Variant(x)", 7, 21, true, "system"},
             })
            QTest::newRow(name) << QByteArray(ini) + '\n'
                                << start << end << protection << QString::fromLatin1(mode);
    }
    void storedValuesRestore() {
        QFETCH(QByteArray, ini);
        writeStore(ini);
        auto state = launch();
        QTEST(state->dayStartHour(), "start");
        QTEST(state->dayEndHour(), "end");
        QTEST(state->preventScreenRecording(), "protection");
        QTEST(rawValue(state->appearanceMode()), "mode");
    }

    void oversizedValuesAreCut() {
        QStringList ids;
        for (int i = 0; i <= UserDefaults::maxListEntries; ++i)
            ids.append(QString::number(i));
        UserDefaults::setValue(QStringLiteral("disabledProjectIds"), ids);
        UserDefaults::setValue(QStringLiteral("selectedScreenName"),
                               QString(UserDefaults::maxTextLength + 1, QLatin1Char('x')));
        QCOMPARE(test::storedStringSet(QStringLiteral("disabledProjectIds")).size(),
                 UserDefaults::maxListEntries);
        QCOMPARE(launch()->selectedScreenName(), QString());
    }

    void firstLaunchWritesItsDefaultsOnce() {
        // A large file costs every rewrite: the defaults are written together.
        writeStore("padding=" + QByteArray(1 << 20, 'p') + '\n');
        // The settings file is replaced, never rewritten in place: count the replacements.
        const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        const QString folder = QFileInfo(UserDefaults::filePath()).path();
        QVERIFY(inotify_add_watch(watch, QFile::encodeName(folder), IN_MOVED_TO) >= 0);
        launch();
        int writes = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(watch, buffer, sizeof(buffer))) > 0;) {
            for (char *p = buffer; p < buffer + n;) {
                const auto *event = reinterpret_cast<inotify_event *>(p);
                writes += event->len && QByteArray(event->name) == "daybrook.conf";
                p += sizeof(inotify_event) + event->len;
            }
        }
        ::close(watch);
        QCOMPARE(writes, 1);
        UserDefaults::reload();
        for (const char *key : {"dayStartHourSet", "preventScreenRecording", "preventScreenRecordingSet"})
            QCOMPARE(UserDefaults::boolValue(QLatin1String(key)), true);
        QCOMPARE(UserDefaults::intValue("dayStartHour"), 7);
        QCOMPARE(UserDefaults::intValue("dayEndHour"), 21);
        // Nothing else is written at first launch.
        QVERIFY(!UserDefaults::contains("alwaysExpanded") && !UserDefaults::contains("appearanceMode"));
    }

    // Hostile local state: a settings file that cannot be written.
    void unsavableSettingsAreToldOnce_data() {
        QTest::addColumn<QString>("blocker");
        QTest::newRow("config folder is a file") << QStringLiteral("folder");
        QTest::newRow("settings file is a folder") << QStringLiteral("file");
    }
    void unsavableSettingsAreToldOnce() {
        QFETCH(QString, blocker);
        const QString file = UserDefaults::filePath();
        const QString folder = QFileInfo(file).path();
        // (A read-only file would do too, but the tests run as root, who writes it anyway.)
        if (blocker == QLatin1String("file")) {
            QVERIFY(QDir().mkpath(file));
        } else {
            QVERIFY(QDir(folder).removeRecursively());
            QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
        }
        const auto restore = qScopeGuard([&] {
            QDir(file).removeRecursively();
            QFile::remove(folder);
            QDir().mkpath(folder);
        });
        UserDefaults::reload();
        QSignalSpy told(&Notifications::instance(), &Notifications::settingsNotSaved);
        auto state = std::make_unique<AppState>();
        state->setDayEndHour(22);
        state->setAlwaysExpanded(true);
        QCOMPARE(told.count(), 1);
        QCOMPARE(told.at(0).at(0).toString(), file);
        QVERIFY(UserDefaults::saveFailed());
        QCOMPARE(state->dayEndHour(), 22); // the running program keeps the change
    }

    void textsFromOutsideAreEscapedInLogs_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("logged");
        QTest::newRow("plain, non-ASCII") << QStringLiteral("Café ☕ 10:00") << QStringLiteral("Café ☕ 10:00");
        QTest::newRow("terminal escape")
            << QStringLiteral("\x1b]0;owned\x07x") << QStringLiteral("\\x1b]0;owned\\x07x");
        QTest::newRow("forged line") << QStringLiteral("a\r\nb\tc") << QStringLiteral("a\\r\\nb\\tc");
        QTest::newRow("DEL and C1") << QStringLiteral("\x7f\u009b") << QStringLiteral("\\x7f\\x9b");
        QTest::newRow("direction override")
            << QStringLiteral("\u202egnp.exe") << QStringLiteral("\\u202egnp.exe");
    }
    void textsFromOutsideAreEscapedInLogs() {
        QFETCH(QString, text);
        QTEST(forLog(text), "logged");
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

    void launchAtLoginUsesTheAutostartEntry() {
        auto state = launch();
        // Refreshed every fifteen minutes, whatever else happens.
        QCOMPARE(state->refreshTimer()->interval(), 900 * 1000);
        QVERIFY(state->refreshTimer()->isActive() && !state->refreshTimer()->isSingleShot());
        QCOMPARE(state->launchAtLogin(), false);
        state->setLaunchAtLogin(true);
        QCOMPARE(state->launchAtLogin(), true);
        QVERIFY(QFile::exists(Autostart::entryPath()));
        state->setLaunchAtLogin(false);
        QCOMPARE(state->launchAtLogin(), false);
    }
};

QTEST_MAIN(AppStateTest)
#include "test_app_state.moc"

#include "core/Clock.h"
#include "core/Logging.h"
#include "core/Notifications.h"
#include "core/UserDefaults.h"
#include "state/AppState.h"
#include "support/TestEnvironment.h"

#include <QtTest>
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
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[General]\n" + ini) > 0);
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
        QTest::addColumn<QByteArray>("ini");   // short for the keys: start, end, protect
        QTest::addColumn<QString>("restored"); // start, end, protection, appearance
        for (const auto &[name, ini, restored] : {
                 std::tuple{"start 0 after the marker", "startSet=true\nstart=0", "0 21 on system"},
                 {"end 0 reads as 21", "startSet=true\nstart=8\nend=0", "8 21 on system"},
                 {"start 0 before the marker", "start=0\nend=20", "7 20 on system"},
                 {"protection off, chosen", "protectSet=true\nprotect=false", "7 21 off system"},
                 {"protection off without the marker", "protect=false", "7 21 on system"},
                 {"capital Dark is system", "appearanceMode=Dark", "7 21 on system"},
                 {"dark", "appearanceMode=dark", "7 21 on dark"},
                 // Hostile local state: numbers no settings window writes.
                 {"beyond their range", "startSet=true\nstart=-2147483648\nend=2147483647", "0 24 on system"},
                 {"beyond 32 bits", "start=99999999999\nend=-99999999999", "23 21 on system"},
                 {"wrong types", "startSet=yes\nstart=seven\nend=@Variant(x)", "7 21 on system"},
             })
            QTest::newRow(name) << QByteArray(ini) + '\n' << QString(restored);
    }
    void storedValuesRestore() {
        QFETCH(QByteArray, ini);
        writeStore(ini.replace("start", "dayStartHour")
                       .replace("end", "dayEndHour")
                       .replace("protect", "preventScreenRecording"));
        auto state = launch();
        QTEST(QString::asprintf("%d %d %s %s", state->dayStartHour(), state->dayEndHour(),
                                state->preventScreenRecording() ? "on" : "off",
                                qPrintable(rawValue(state->appearanceMode()))),
              "restored");
        // The start-up resolution of the dark mode is deferred to the event loop, after construction.
        QCOMPARE(state->isDarkMode(), false);
        QTRY_COMPARE(state->isDarkMode(), state->appearanceMode() == AppearanceMode::Dark);
    }

    void oversizedValuesAreCut() {
        QStringList ids;
        for (int i = 0; i <= UserDefaults::maxListEntries; ++i)
            ids.append(QString::number(i));
        UserDefaults::setValue("disabledProjectIds", ids);
        UserDefaults::setValue("selectedScreenName",
                               QString(UserDefaults::maxTextLength + 1, QLatin1Char('x')));
        QCOMPARE(test::storedStringSet("disabledProjectIds").size(), UserDefaults::maxListEntries);
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
        // Only the settings file is ever moved into its folder.
        for (ssize_t n; (n = ::read(watch, buffer, sizeof(buffer))) > 0;)
            for (char *p = buffer; p < buffer + n; ++writes)
                p += sizeof(inotify_event) + reinterpret_cast<inotify_event *>(p)->len;
        ::close(watch);
        QCOMPARE(writes, 1);
        UserDefaults::reload();
        for (const char *key : {"dayStartHourSet", "preventScreenRecording", "preventScreenRecordingSet"})
            QCOMPARE(UserDefaults::boolValue(QLatin1String(key)), true);
        QVERIFY(UserDefaults::intValue("dayStartHour") == 7 && UserDefaults::intValue("dayEndHour") == 21);
        // Nothing else is written at first launch.
        QVERIFY(!UserDefaults::contains("alwaysExpanded") && !UserDefaults::contains("appearanceMode"));
    }

    // Hostile local state: a settings file that cannot be written (a folder in its
    // place; a read-only file would do too, but the tests run as root, who writes it anyway).
    void unsavableSettingsAreToldOnce() {
        const QString file = UserDefaults::filePath();
        QVERIFY(QDir().mkpath(file));
        const auto restore = qScopeGuard([&] { QDir(file).removeRecursively(); });
        UserDefaults::reload();
        QSignalSpy told(&Notifications::instance(), &Notifications::settingsNotSaved);
        auto state = std::make_unique<AppState>();
        state->setDayEndHour(22);
        state->setAlwaysExpanded(true);
        QVERIFY(told.count() == 1 && told.at(0).at(0).toString() == file);
        QVERIFY(UserDefaults::saveFailed());
        QCOMPARE(state->dayEndHour(), 22); // the running program keeps the change
    }

    void textsFromOutsideAreEscapedInLogs_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("logged");
        for (const auto &[name, text, logged] : {
                 std::tuple{"plain, non-ASCII", "Café ☕ 10:00", "Café ☕ 10:00"},
                 {"terminal escape", "\x1b]0;owned\x07x", "\\x1b]0;owned\\x07x"},
                 {"forged line", "a\r\nb\tc", "a\\r\\nb\\tc"},
                 {"DEL and C1", "\x7f\u009b", "\\x7f\\x9b"},
                 {"direction override", "\u202egnp.exe", "\\u202egnp.exe"},
             })
            QTest::newRow(name) << QString::fromUtf8(text) << QString::fromUtf8(logged);
    }
    void textsFromOutsideAreEscapedInLogs() {
        QFETCH(QString, text);
        QTEST(forLog(text), "logged");
    }

    void everyWriteIsStoredAndNotified() {
        auto state = launch();
        QSignalSpy spy(state.get(), &AppState::alwaysExpandedChanged);
        for (int i = 0; i < 2; ++i)
            state->setAlwaysExpanded(true); // an equal value still counts
        QCOMPARE(spy.count(), 2);
        state->setSelectedScreenName("HDMI-1, left");
        state->setAppearanceMode(AppearanceMode::Light);
        state->setPreventScreenRecording(false);
        state->setDayEndHour(24);

        auto restarted = launch();
        QVERIFY(restarted->alwaysExpanded() && !restarted->preventScreenRecording());
        QVERIFY(restarted->appearanceMode() == AppearanceMode::Light && restarted->dayEndHour() == 24);
        QCOMPARE(restarted->selectedScreenName(), "HDMI-1, left");
    }

    void refreshGateWaitsSixtySeconds() {
        const QDateTime start(QDate(2026, 5, 4), QTime(10, 0), Qt::UTC);
        Clock::freezeAt(start);
        auto state = launch();
        // Refreshed every fifteen minutes, whatever else happens.
        QCOMPARE(state->refreshTimer()->interval(), 900 * 1000);
        QVERIFY(state->refreshTimer()->isActive() && !state->refreshTimer()->isSingleShot());
        QSignalSpy finished(state.get(), &AppState::refreshFinished);
        // Never refreshed: always refreshes; then again only a minute after the last one.
        int fences = 0;
        for (const auto &[after, refreshes] : {std::pair{0, 1}, {59, 1}, {60, 2}}) {
            Clock::freezeAt(start.addSecs(after));
            state->refreshIfNeeded();
            QTRY_COMPARE(finished.count(), refreshes + fences);
            QCOMPARE(state->lastRefreshTime(), start.addSecs(after - after % 60));
            // A refresh started now (at the same time) ends after any that was wrongly let through.
            Clock::freezeAt(*state->lastRefreshTime());
            QCoro::waitFor(state->refresh());
            QCOMPARE(finished.count(), refreshes + ++fences);
        }
    }
};

QTEST_MAIN(AppStateTest)
#include "test_app_state.moc"

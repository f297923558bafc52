#include "platform/SystemAppearance.h"
#include "state/AppState.h"
#include "support/TestEnvironment.h"

#include <QDBusConnection>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace daybrook;

namespace {
// The desktop's Settings portal, played by a small service on the private bus.
class FakePortal {
public:
    explicit FakePortal(int scheme) {
        process.start(
            QStringLiteral("/usr/bin/python3"),
            {qEnvironmentVariable("DAYBROOK_SOURCE_DIR") + QStringLiteral("/tests/support/fake-portal.py"),
             QString::number(scheme)});
    }
    ~FakePortal() {
        process.closeWriteChannel();
        if (!process.waitForFinished(3000))
            process.kill();
    }
    bool waitUntilReady() {
        return process.waitForReadyRead(10000) && process.readLine().startsWith("ready");
    }
    void setScheme(int scheme) { process.write(QByteArray::number(scheme) + '\n'); }
    QProcess process;
};
} // namespace

class AppearancePortalTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no private session bus");
    }
    void init() { test::resetUserDefaults(); }

    void systemModeFollowsThePortalLive() {
        FakePortal portal(1);
        QVERIFY(portal.waitUntilReady());
        auto *appearance = new SystemAppearance;
        AppStateDependencies deps;
        deps.appearance = appearance;
        AppState state(std::move(deps));
        QTRY_COMPARE(state.isDarkMode(), true);

        portal.setScheme(2);
        QTRY_COMPARE(state.isDarkMode(), false);
        portal.setScheme(1);
        QTRY_COMPARE(state.isDarkMode(), true);

        // A chosen mode wins over the desktop's preference.
        state.setAppearanceMode(AppearanceMode::Light);
        QCOMPARE(state.isDarkMode(), false);
        portal.setScheme(1);
        QTest::qWait(200);
        QCOMPARE(state.isDarkMode(), false);
        delete appearance;
    }
};

QTEST_MAIN(AppearancePortalTest)
#include "test_appearance_portal.moc"

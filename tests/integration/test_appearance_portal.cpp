#include "platform/SystemAppearance.h"
#include "state/AppState.h"
#include "support/TestEnvironment.h"

#include <QtDBus>
#include <QtTest>

using namespace daybrook;

class AppearancePortalTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void systemModeFollowsThePortalLive() {
        test::resetUserDefaults();
        // The desktop's Settings portal, played by a small service on the private bus.
        QProcess portal;
        portal.start("/usr/bin/python3",
                     {qEnvironmentVariable("DAYBROOK_SOURCE_DIR") + "/tests/support/fake-portal.py", "1"});
        QVERIFY(portal.waitForReadyRead(30000) && portal.readLine().startsWith("ready"));
        SystemAppearance appearance;
        AppStateDependencies deps;
        deps.appearance = &appearance;
        AppState state(std::move(deps));
        QTRY_COMPARE(state.isDarkMode(), true);
        for (const auto &[scheme, dark] : {std::pair{"2\n", false}, {"1\n", true}, {"2\n", false}}) {
            portal.write(scheme);
            QTRY_COMPARE(state.isDarkMode(), dark);
        }

        // A chosen mode wins over the desktop's preference.
        state.setAppearanceMode(AppearanceMode::Light);
        QSignalSpy changed(&appearance, &SystemAppearance::changed);
        portal.write("1\n");
        QVERIFY(changed.wait(30000) && appearance.prefersDark());
        QCOMPARE(state.isDarkMode(), false);
    }
};

QTEST_MAIN(AppearancePortalTest)
#include "test_appearance_portal.moc"

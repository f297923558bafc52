// The tray icon and the Settings window on a real X server: Xvfb, openbox as the
// window manager and trayer as the tray host.

#include "support/Processes.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

class TrayAndSettingsTest : public QObject {
    Q_OBJECT

    daybrook::test::Processes m_procs;

    // Our own windows (instance "daybrook") whose size matches a pattern, from the
    // window tree; the window manager's frames around them carry no class.
    qsizetype windowsOfSize(const QString &size) {
        const QRegularExpression ours(u"\\(\"daybrook\" .* %1\\+"_s.arg(size));
        return m_procs.run(u"xwininfo"_s, {u"-root"_s, u"-tree"_s})
            .split(QLatin1Char('\n'))
            .filter(ours)
            .size();
    }

private Q_SLOTS:
    void secondLaunchOpensSettingsAndTheTrayNeedsNoNotice() {
        DAYBROOK_REQUIRE_TOOLS(u"Xvfb"_s, u"openbox"_s, u"trayer"_s, u"xwininfo"_s)
        QVERIFY(m_procs.startDesktop(u"openbox"_s) > 0);
        // Without a session bus the icon goes to the X11 tray (XEmbed).
        m_procs.env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        const QString binary = qEnvironmentVariable("DAYBROOK_BINARY");
        QProcess *daybrook = m_procs.start(binary);
        // The tray icon is docked: a small window of ours inside trayer's.
        QTRY_COMPARE_WITH_TIMEOUT(windowsOfSize(u"\\d{1,2}x\\d{1,2}"_s), 1, 10000);
        QVERIFY(!QString::fromUtf8(daybrook->readAllStandardOutput()).contains(u"again"_s));
        QCOMPARE(windowsOfSize(u"720x444"_s), 0);

        // A second launch opens Settings; once more brings it forward, no second one.
        for (int launch = 0; launch < 2; ++launch) {
            QCOMPARE(m_procs.sh(binary + u" >/dev/null; echo $?"_s), u"0"_s);
            QTRY_COMPARE_WITH_TIMEOUT(windowsOfSize(u"720x444"_s), 1, 10000);
        }
        QTest::qWait(500);
        QCOMPARE(windowsOfSize(u"720x444"_s), 1);
        QCOMPARE(daybrook->state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TrayAndSettingsTest)
#include "test_tray_and_settings.moc"

// The tray icon and the Settings window on a real X server: Xvfb, openbox as the
// window manager and trayer as the tray host.

#include "support/Processes.h"

#include <QRegularExpression>

class TrayAndSettingsTest : public QObject {
    Q_OBJECT

    daybrook::test::Processes m_processes;

    // Our own windows (instance "daybrook") whose size matches a pattern, from the
    // window tree; the window manager's frames around them carry no class.
    qsizetype windowsOfSize(const QString &size) {
        const QRegularExpression ours(QStringLiteral("\\(\"daybrook\" .* %1\\+").arg(size));
        return m_processes.run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")})
            .split(QLatin1Char('\n'))
            .filter(ours)
            .size();
    }

private Q_SLOTS:
    void secondLaunchOpensSettingsAndTheTrayNeedsNoNotice() {
        if (const QString tool = m_processes.missing({QStringLiteral("Xvfb"), QStringLiteral("openbox"),
                                                      QStringLiteral("trayer"), QStringLiteral("xwininfo")});
            !tool.isEmpty())
            QSKIP(qPrintable(tool + QStringLiteral(" is missing")));
        QVERIFY(m_processes.startDesktop(QStringLiteral("openbox")) > 0);
        // Without a session bus the icon goes to the X11 tray (XEmbed).
        m_processes.env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        const QString binary = qEnvironmentVariable("DAYBROOK_BINARY");
        QProcess *daybrook = m_processes.start(binary);
        // The tray icon is docked: a small window of ours inside trayer's.
        QTRY_COMPARE_WITH_TIMEOUT(windowsOfSize(QStringLiteral("\\d{1,2}x\\d{1,2}")), 1, 10000);
        QVERIFY(!QString::fromUtf8(daybrook->readAllStandardOutput()).contains(QLatin1String("again")));
        QCOMPARE(windowsOfSize(QStringLiteral("720x444")), 0);

        // A second launch opens Settings; once more brings it forward, no second one.
        for (int launch = 0; launch < 2; ++launch) {
            QProcess second;
            second.setProcessEnvironment(m_processes.env);
            second.start(binary);
            QVERIFY(second.waitForFinished(10000));
            QCOMPARE(second.exitCode(), 0);
            QTRY_COMPARE_WITH_TIMEOUT(windowsOfSize(QStringLiteral("720x444")), 1, 10000);
        }
        QTest::qWait(500);
        QCOMPARE(windowsOfSize(QStringLiteral("720x444")), 1);
        QCOMPARE(daybrook->state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TrayAndSettingsTest)
#include "test_tray_and_settings.moc"

// The tray icon and the Settings window on a real X server: Xvfb, openbox as the
// window manager and trayer as the tray host.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

class TrayAndSettingsTest : public QObject {
    Q_OBJECT

    QString m_display;
    QProcessEnvironment m_environment;
    QList<QProcess *> m_processes;

    QProcess *start(const QString &program, const QStringList &arguments) {
        auto *process = new QProcess(this);
        process->setProcessEnvironment(m_environment);
        process->start(program, arguments);
        m_processes.append(process);
        return process;
    }

    QString run(const QString &program, const QStringList &arguments) {
        QProcess process;
        process.setProcessEnvironment(m_environment);
        process.start(program, arguments);
        process.waitForFinished(10000);
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    // Our own windows (class "daybrook") whose size matches a pattern, from the
    // window tree; the window manager's frames around them carry no class.
    int windowsOfSize(const QString &size) {
        const QString tree =
            run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
        int count = 0;
        for (const QString &line : tree.split(QLatin1Char('\n'))) {
            if (line.contains(QLatin1String("\"daybrook\")")) &&
                QRegularExpression(QStringLiteral(" %1\\+").arg(size)).match(line).hasMatch())
                ++count;
        }
        return count;
    }

private Q_SLOTS:
    void initTestCase() {
        for (const char *tool : {"Xvfb", "openbox", "trayer", "xwininfo"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool))));
        }
        if (qEnvironmentVariableIsEmpty("DAYBROOK_BINARY"))
            QSKIP("DAYBROOK_BINARY is not set");
        for (int n = 90; n < 200 && m_display.isEmpty(); ++n) {
            if (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) &&
                !QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                m_display = QStringLiteral(":%1").arg(n);
        }
        QVERIFY(!m_display.isEmpty());
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.insert(QStringLiteral("DISPLAY"), m_display);
        m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        m_environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));

        start(QStringLiteral("Xvfb"),
              {m_display, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x800x24"),
               QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("/tmp/.X11-unix/X") + m_display.mid(1)), 10000);
        start(QStringLiteral("openbox"), {});
        start(QStringLiteral("trayer"),
              {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
               QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
               QStringLiteral("--height"), QStringLiteral("32"), QStringLiteral("--SetDockType"),
               QStringLiteral("true")});
        QTRY_VERIFY_WITH_TIMEOUT(
            run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")})
                .contains(QLatin1String("panel")),
            30000);
    }

    void cleanupTestCase() {
        // Newest first: the program before the tray, the tray before the server.
        for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
            (*it)->terminate();
            if (!(*it)->waitForFinished(3000)) {
                (*it)->kill();
                (*it)->waitForFinished(3000);
            }
        }
    }

    void secondLaunchOpensSettingsAndTheTrayNeedsNoNotice() {
        const QString binary = qEnvironmentVariable("DAYBROOK_BINARY");
        QProcess *daybrook = start(binary, {});
        QVERIFY(daybrook->waitForStarted());
        // The tray icon is docked: a small window of ours inside trayer's.
        QTRY_COMPARE_WITH_TIMEOUT(windowsOfSize(QStringLiteral("\\d{1,2}x\\d{1,2}")), 1, 10000);
        QVERIFY(!QString::fromUtf8(daybrook->readAllStandardOutput()).contains(QLatin1String("again")));
        QCOMPARE(windowsOfSize(QStringLiteral("720x444")), 0);

        QProcess second;
        second.setProcessEnvironment(m_environment);
        second.start(binary, {});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(windowsOfSize(QStringLiteral("720x444")), 1, 10000);

        // Once more: the open window comes forward, no second one.
        second.start(binary, {});
        QVERIFY(second.waitForFinished(10000));
        QTest::qWait(500);
        QCOMPARE(windowsOfSize(QStringLiteral("720x444")), 1);
        QCOMPARE(daybrook->state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TrayAndSettingsTest)
#include "test_tray_and_settings.moc"

#include "platform/SingleInstance.h"
#include "support/DesktopIntegration.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace daybrook;

// The installed program as the desktop starts it: a daybrook: link opened with
// xdg-open reaches the instance that is already running.
class UrlHandoffInstalledTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        m_xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        m_xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
        if (m_xdgOpen.isEmpty() || m_xdgMime.isEmpty())
            QSKIP("xdg-open is not installed (package xdg-utils)");
        QVERIFY2(qEnvironmentVariable("XDG_CONFIG_HOME").contains(QLatin1String("daybrook-test")),
                 "run through tests/support/run-test.sh");
        QVERIFY(m_prefix.isValid());
        // Everything installs as the one default component.
        const test::ToolResult install = test::installBuild(
            m_prefix.path(), QProcessEnvironment::systemEnvironment(), QStringLiteral("Unspecified"));
        QVERIFY2(install.exitCode == 0, install.output.constData());

        // A session without a desktop environment: xdg-open takes its generic
        // path (mimeapps.list and the desktop entries in the XDG data folders).
        m_environment = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
              "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID", "XDG_SESSION_TYPE"})
            m_environment.remove(QString::fromLatin1(name));
        const QString share = m_prefix.path() + QStringLiteral("/share");
        m_environment.insert(QStringLiteral("XDG_DATA_HOME"), share);
        m_environment.insert(QStringLiteral("XDG_DATA_DIRS"),
                             share + QLatin1Char(':') +
                                 m_environment.value(QStringLiteral("XDG_DATA_DIRS"),
                                                     QStringLiteral("/usr/local/share:/usr/share")));
        // xdg-open looks for a scheme handler only when it sees a display; the
        // program itself draws offscreen and never connects to one.
        m_environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4093"));
        m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // Nothing but the handler may take the link.
        m_environment.insert(QStringLiteral("BROWSER"), QStringLiteral("false"));
        m_environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("daybrook.app.debug=true"));

        const test::ToolResult setDefault =
            test::runTool(m_xdgMime,
                          {QStringLiteral("default"), QStringLiteral("daybrook.desktop"),
                           QStringLiteral("x-scheme-handler/daybrook")},
                          m_environment);
        QVERIFY2(setDefault.exitCode == 0, setDefault.output.constData());
    }

    void cleanup() {
        m_first.kill();
        m_first.waitForFinished();
    }

    void xdgOpenHandsTheLinkToTheRunningInstance() {
        const QByteArray &log = m_log;
        connect(&m_first, &QProcess::readyReadStandardError, this,
                [this] { m_log += m_first.readAllStandardError(); });
        m_first.setProcessEnvironment(m_environment);
        m_first.setProgram(m_prefix.path() + QStringLiteral("/bin/daybrook"));
        m_first.start();
        QVERIFY2(m_first.waitForStarted(), qPrintable(m_first.errorString()));
        const QString socket = SingleInstance::socketPath();
        QTRY_VERIFY2_WITH_TIMEOUT(QFileInfo::exists(socket) || m_first.state() == QProcess::NotRunning,
                                  "the first instance never listened", 60000);
        QVERIFY2(m_first.state() == QProcess::Running, log.constData());

        // A link that is not the sign-in callback is handed over too, and ignored there.
        const test::ToolResult other = test::runTool(
            m_xdgOpen, {QStringLiteral("daybrook://oauth/other?code=x&state=y")}, m_environment);
        QVERIFY2(other.exitCode == 0, other.output.constData());

        // xdg-open returns the status of the second launch, which hands the link over and exits.
        const test::ToolResult open = test::runTool(
            m_xdgOpen, {QStringLiteral("daybrook://oauth/todoist?code=x&state=y")}, m_environment);
        QVERIFY2(open.exitCode == 0, open.output.constData());

        QTRY_VERIFY2_WITH_TIMEOUT(log.contains("OAuth callback received"), log.constData(), 30000);
        QCOMPARE(log.count("OAuth callback received"), 1);
        // The authorisation code never reaches a log.
        QVERIFY2(!log.contains("code=x"), log.constData());
        QCOMPARE(m_first.state(), QProcess::Running);
    }

private:
    QTemporaryDir m_prefix;
    QString m_xdgOpen;
    QString m_xdgMime;
    QProcessEnvironment m_environment;
    QProcess m_first;
    QByteArray m_log;
};

QTEST_GUILESS_MAIN(UrlHandoffInstalledTest)
#include "test_url_handoff_installed.moc"

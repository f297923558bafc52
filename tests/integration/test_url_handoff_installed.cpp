#include "platform/SingleInstance.h"
#include "support/DesktopIntegration.h"

#include <QtTest>

using namespace daybrook;

// The installed program as the desktop starts it: a daybrook: link opened with
// xdg-open reaches the instance that is already running.
class UrlHandoffInstalledTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void xdgOpenHandsTheLinkToTheRunningInstance() {
        const QString xdgOpen = QStandardPaths::findExecutable("xdg-open"),
                      xdgMime = QStandardPaths::findExecutable("xdg-mime");
        if (xdgOpen.isEmpty() || xdgMime.isEmpty())
            QSKIP("xdg-open is not installed (package xdg-utils)");
        QVERIFY2(qEnvironmentVariable("XDG_CONFIG_HOME").contains(QLatin1String("daybrook-test")),
                 "run through tests/support/run-test.sh");
        QTemporaryDir prefix;
        // Everything installs as the one default component.
        const test::ToolResult install =
            test::installBuild(prefix.path(), QProcessEnvironment::systemEnvironment(), "Unspecified");
        QVERIFY2(install.exitCode == 0, install.output.constData());

        // A session without a desktop environment: xdg-open takes its generic
        // path (mimeapps.list and the desktop entries in the XDG data folders).
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
              "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID", "XDG_SESSION_TYPE"})
            environment.remove(name);
        const QString share = prefix.path() + "/share";
        const QString dataDirs = environment.value("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
        // xdg-open looks for a scheme handler only when it sees a display; the program
        // itself draws offscreen and never connects to one. Nothing but the handler may take the link.
        for (const QString &setting :
             {"XDG_DATA_HOME=" + share, "XDG_DATA_DIRS=" + share + ':' + dataDirs, QString("DISPLAY=:4093"),
              QString("QT_QPA_PLATFORM=offscreen"), QString("BROWSER=false"),
              QString("QT_LOGGING_RULES=daybrook.app.debug=true")})
            environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
        const test::ToolResult setDefault =
            test::runTool(xdgMime, {"default", "daybrook.desktop", "x-scheme-handler/daybrook"}, environment);
        QVERIFY2(setDefault.exitCode == 0, setDefault.output.constData());

        QProcess first;
        first.setProcessEnvironment(environment);
        first.setProcessChannelMode(QProcess::MergedChannels);
        first.start(prefix.path() + "/bin/daybrook");
        QVERIFY2(first.waitForStarted(), qPrintable(first.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(
            QFileInfo::exists(SingleInstance::socketPath()) || first.state() != QProcess::Running, 60000);
        QByteArray log = first.readAll();
        QVERIFY2(first.state() == QProcess::Running, log.constData());
        // A link that is not the sign-in callback is handed over too, and ignored there; xdg-open
        // returns the status of the second launch, which hands the link over and exits.
        for (const char *link :
             {"daybrook://oauth/other?code=x&state=y", "daybrook://oauth/todoist?code=x&state=y"}) {
            const test::ToolResult open = test::runTool(xdgOpen, {link}, environment);
            QVERIFY2(open.exitCode == 0, open.output.constData());
        }
        QTRY_VERIFY2_WITH_TIMEOUT((log += first.readAll()).contains("OAuth callback received"),
                                  log.constData(), 30000);
        // Once only, and the authorisation code never reaches a log.
        QVERIFY2(log.count("OAuth callback received") == 1 && !log.contains("code=x"), log.constData());
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        first.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(UrlHandoffInstalledTest)
#include "test_url_handoff_installed.moc"

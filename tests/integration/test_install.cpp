#include "BuildConfig.h"
#include "platform/SingleInstance.h"
#include "support/DesktopIntegration.h"

#include <QtGui>
#include <QtSvg>
#include <QtTest>

using namespace daybrook;

// The build installed as a user or a package would, its files checked with the
// desktop's own validators, started the way the desktop starts it, and removed.
namespace {

QStringList filesBelow(const QString &root) {
    QStringList files;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
         it.hasNext();)
        files.append(it.next());
    files.sort();
    return files;
}

// Missing tools fail to start: scripts/install-deps.sh installs them.
QString tool(const char *name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

// The texts of every element of that name in the metainfo file, or of an attribute of it.
QStringList metainfo(const QString &path, const char *element, const char *attribute = nullptr) {
    QFile file(path);
    QStringList found;
    QXmlStreamReader xml(file.open(QIODevice::ReadOnly) ? &file : nullptr);
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String(element))
            found.append(attribute ? xml.attributes().value(QLatin1String(attribute)).toString()
                                   : xml.readElementText());
    return xml.hasError() ? QStringList{QStringLiteral("<invalid>")} : found;
}

} // namespace

class InstallTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QVERIFY2(qEnvironmentVariable("XDG_CONFIG_HOME").contains(QLatin1String("daybrook-test")),
                 "run through tests/support/run-test.sh");
        QVERIFY(m_prefix.isValid());
        const test::ToolResult install = test::installBuild(m_prefix.path());
        QVERIFY2(install.exitCode == 0, install.output.constData());
        QFile manifest(m_manifestPath);
        QVERIFY(manifest.open(QIODevice::ReadOnly));
        m_manifest = QString::fromUtf8(manifest.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        m_manifest.sort();
    }

    // The uninstall script removes what the manifest lists: it must list every file.
    void theManifestListsEveryInstalledFile() { QCOMPARE(filesBelow(m_prefix.path()), m_manifest); }

    // Outside /usr the entry names the installed program by its full path (its
    // bin folder is often not on the session's PATH); under /usr it names it plainly.
    void theEntryStartsTheInstalledProgram_data() {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<bool>("staged");
        QTest::newRow("space, quote, dollar") << QString("My \"Apps\" $HOME 100%") << false;
        QTest::newRow("/usr, staged for a package") << QString("/usr") << true;
    }
    void theEntryStartsTheInstalledProgram() {
        QFETCH(QString, prefix);
        QFETCH(bool, staged);
        QTemporaryDir root;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (staged)
            environment.insert("DESTDIR", root.path());
        else
            prefix = root.path() + '/' + prefix;
        const test::ToolResult install = test::installBuild(prefix, environment);
        QVERIFY2(install.exitCode == 0, install.output.constData());

        const QString entry =
            (staged ? root.path() : QString()) + prefix + "/share/applications/daybrook.desktop";
        const test::ToolResult validation = test::runTool(tool("desktop-file-validate"), {entry});
        QVERIFY2(validation.exitCode == 0 && validation.output.trimmed().isEmpty(),
                 validation.output.constData());
        QVERIFY(test::desktopEntryValue(entry, "MimeType").split(';').contains("x-scheme-handler/daybrook"));
        // Listed in the menu: it is started from there (into the tray).
        QVERIFY(test::desktopEntryValue(entry, "NoDisplay") != "true" &&
                test::desktopEntryValue(entry, "Hidden") != "true");
        const QString program = staged ? "daybrook" : QDir::cleanPath(prefix) + "/bin/daybrook";
        QCOMPARE(test::desktopEntryCommand(entry), (QStringList{program, "%u"}));
    }

    void theIconIsInstalledInEverySize() {
        const QString hicolor = m_prefix.path() + "/share/icons/hicolor";
        QSvgRenderer scalable(hicolor + "/scalable/apps/daybrook.svg");
        QVERIFY(scalable.isValid() && scalable.defaultSize() == QSize(256, 256));
        for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString path = hicolor + QStringLiteral("/%1x%1/apps/daybrook.png").arg(size);
            const QImage image(path);
            QVERIFY2(image.size() == QSize(size, size), qPrintable(path));
            // Transparent corners, opaque middle: a rendered icon, not an empty canvas.
            QVERIFY(qAlpha(image.pixel(0, 0)) == 0 && qAlpha(image.pixel(size / 2, size / 2)) == 255);
        }
    }

    void theMetainfoIsValidAndMatchesTheBuild() {
        const QString folder = m_prefix.path() + "/share/metainfo";
        const QStringList files = QDir(folder).entryList({"*.metainfo.xml"}, QDir::Files);
        QCOMPARE(files.size(), 1);
        const QString path = folder + '/' + files.first();
        const test::ToolResult validation =
            test::runTool(tool("appstreamcli"), {"validate", "--no-net", path});
        QVERIFY2(validation.exitCode == 0, validation.output.constData());

        QCOMPARE(metainfo(path, "id").value(0) + ".metainfo.xml", files.first());
        QVERIFY(QFileInfo::exists(m_prefix.path() + "/share/applications/" +
                                  metainfo(path, "launchable").value(0)));
        QCOMPARE(metainfo(path, "release", "version").value(0), QString::fromLatin1(build::version));

        // Screenshots are the images in docs/: each one named must exist there, and
        // the bar's images are shown once they are.
        const QString docs = qEnvironmentVariable("DAYBROOK_SOURCE_DIR") + "/docs";
        const QStringList images = metainfo(path, "image");
        for (const QString &image : images) {
            const auto match = QRegularExpression("^https://.+/docs/([^/]+\\.png)$").match(image);
            QVERIFY2(match.hasMatch() && QFileInfo::exists(docs + '/' + match.captured(1)),
                     qPrintable(image));
        }
        if (!QDir(docs).entryList({"bar-*light*.png"}, QDir::Files).isEmpty())
            QVERIFY(!images.filter("/docs/bar-").isEmpty());
    }

    // The installed program as the desktop starts it: a daybrook: link opened with
    // xdg-open, and a plain second launch, reach the instance that is already running.
    void aLaterLaunchHandsOverToTheRunningInstance() {
        const QString xdgOpen = tool("xdg-open"), xdgMime = tool("xdg-mime");
        // A session without a desktop environment: xdg-open takes its generic
        // path (mimeapps.list and the desktop entries in the XDG data folders).
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name :
             {"XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
              "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID", "XDG_SESSION_TYPE"})
            environment.remove(name);
        const QString share = m_prefix.path() + "/share";
        const QString dataDirs = environment.value("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
        // xdg-open looks for a scheme handler only when it sees a display; the program
        // itself draws offscreen and never connects to one. Nothing but the handler may take the link.
        for (const QString &setting :
             {"XDG_DATA_HOME=" + share, "XDG_DATA_DIRS=" + share + ':' + dataDirs, QString("DISPLAY=:4093"),
              QString("QT_QPA_PLATFORM=offscreen"), QString("BROWSER=false"),
              QString("QT_LOGGING_RULES=daybrook.app.debug=true")})
            environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
        QCOMPARE(
            test::runTool(xdgMime, {"default", "daybrook.desktop", "x-scheme-handler/daybrook"}, environment)
                .exitCode,
            0);

        QProcess first;
        first.setProcessEnvironment(environment);
        first.setProcessChannelMode(QProcess::MergedChannels);
        first.start(m_prefix.path() + "/bin/daybrook");
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
        // A launch without a link, and without any display: the hand-off comes before one is
        // opened, asks the running instance to come forward, and exits.
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY"})
            environment.remove(name);
        QCOMPARE(test::runTool(m_prefix.path() + "/bin/daybrook", {}, environment).exitCode, 0);
        QTRY_VERIFY2_WITH_TIMEOUT((log += first.readAll()).contains("activation requested"), log.constData(),
                                  30000);
        // Once only, and the authorisation code never reaches a log.
        QVERIFY2(log.count("OAuth callback received") == 1 && !log.contains("code=x"), log.constData());
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        first.waitForFinished();
    }

    void uninstallingRemovesExactlyWhatWasInstalled() {
        QTemporaryDir prefix;
        const QString foreign = prefix.path() + "/share/applications/other.desktop";
        QVERIFY(QDir().mkpath(QFileInfo(foreign).absolutePath()));
        QFile(foreign).open(QIODevice::WriteOnly);
        const test::ToolResult install = test::installBuild(prefix.path());
        QVERIFY2(install.exitCode == 0, install.output.constData());

        // What scripts/run.sh and launch at login leave behind besides the files.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        const QString xdgMime = tool("xdg-mime");
        QCOMPARE(
            test::runTool(xdgMime, {"default", "daybrook.desktop", "x-scheme-handler/daybrook"}).exitCode, 0);
        const QString autostart = config + "/autostart/daybrook.desktop";
        QVERIFY(QDir().mkpath(QFileInfo(autostart).absolutePath()));
        QFile entry(autostart);
        QVERIFY(entry.open(QIODevice::WriteOnly) &&
                entry.write("[Desktop Entry]\nType=Application\nName=Daybrook\nExec=" +
                            QFile::encodeName(prefix.path()) + "/bin/daybrook\n") > 0);
        entry.close();

        const test::ToolResult uninstall =
            test::runTool(qEnvironmentVariable("DAYBROOK_SOURCE_DIR") + "/scripts/uninstall.sh",
                          {"--prefix", prefix.path(), "--manifest", m_manifestPath});
        QVERIFY2(uninstall.exitCode == 0, uninstall.output.constData());

        QStringList left = filesBelow(prefix.path());
        left.removeAll(prefix.path() + "/share/applications/mimeinfo.cache");
        QVERIFY2(left == QStringList{foreign}, qPrintable(left.join(' ')));
        QVERIFY(!QFileInfo::exists(autostart));
        const test::ToolResult handler =
            test::runTool(xdgMime, {"query", "default", "x-scheme-handler/daybrook"});
        QVERIFY2(!handler.output.contains("daybrook.desktop"), handler.output.constData());
    }

private:
    QTemporaryDir m_prefix;
    QStringList m_manifest;
    const QString m_manifestPath = qEnvironmentVariable("DAYBROOK_BUILD_DIR") + "/install_manifest.txt";
};

QTEST_GUILESS_MAIN(InstallTest)
#include "test_install.moc"

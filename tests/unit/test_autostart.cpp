#include "platform/Autostart.h"
#include "support/DesktopIntegration.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace daybrook;

namespace {

class FixedBinaryAutostart : public Autostart {
public:
    explicit FixedBinaryAutostart(QString path) : m_path(std::move(path)) {}

protected:
    QString binaryPath() const override { return m_path; }

private:
    QString m_path;
};

void writeFile(const QString &path, const QByteArray &content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class AutostartTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        // The runner gives a private config folder; never write into a real one.
        const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        QVERIFY2(config.contains(QLatin1String("daybrook-test")), "run through tests/support/run-test.sh");
        QCOMPARE(Autostart::entryPath(), config + QStringLiteral("/autostart/daybrook.desktop"));
        QVERIFY(m_systemConfig.isValid());
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_systemConfig.path()));
    }

    void init() {
        QDir(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart")).removeRecursively();
        QDir(m_systemConfig.path() + QStringLiteral("/autostart")).removeRecursively();
    }

    void enablingStartsThisProgramWhateverTheWorkingFolderAndDisablingRemovesIt() {
        QTemporaryDir elsewhere;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        Autostart autostart;
        QString error;
        const bool written = autostart.setEnabled(true, &error);
        QDir::setCurrent(before);
        QVERIFY2(written, qPrintable(error));
        QVERIFY(autostart.isEnabled());

        const QString program = test::desktopEntryCommand(Autostart::entryPath()).value(0);
        QCOMPARE(program, QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
        QVERIFY(QFileInfo(program).isExecutable());

        // Enabling twice keeps one valid entry.
        QVERIFY(autostart.setEnabled(true, &error));
        QVERIFY(autostart.isEnabled());

        QVERIFY(autostart.setEnabled(false, &error));
        QVERIFY(!QFileInfo::exists(Autostart::entryPath()));
        QVERIFY(!autostart.isEnabled());
        // Nothing to remove is not a failure.
        QVERIFY2(autostart.setEnabled(false, &error), qPrintable(error));
    }

    void entriesSwitchedOffReadAsDisabled_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("enabled");
        const QByteArray head = "[Desktop Entry]\nType=Application\nName=Daybrook\nExec=/usr/bin/daybrook\n";
        QTest::newRow("plain") << head << true;
        QTest::newRow("Hidden=true") << head + "Hidden=true\n" << false;
        QTest::newRow("Hidden = true, spaces") << head + "Hidden = true\n" << false;
        QTest::newRow("Hidden=false") << head + "Hidden=false\n" << true;
        QTest::newRow("GNOME switch off") << head + "X-GNOME-Autostart-enabled=false\n" << false;
        QTest::newRow("Hidden in another group") << head + "[Desktop Action x]\nHidden=true\n" << true;
        QTest::newRow("commented out") << head + "#Hidden=true\n" << true;
    }
    void entriesSwitchedOffReadAsDisabled() {
        QFETCH(QByteArray, entry);
        QFETCH(bool, enabled);
        writeFile(Autostart::entryPath(), entry);
        QCOMPARE(Autostart().isEnabled(), enabled);
    }

    void anEntryForEveryUserIsHiddenNotIgnored() {
        writeFile(m_systemConfig.path() + QStringLiteral("/autostart/daybrook.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Daybrook\nExec=daybrook\n");
        Autostart autostart;
        QVERIFY(autostart.isEnabled());

        QString error;
        QVERIFY2(autostart.setEnabled(false, &error), qPrintable(error));
        QVERIFY(!autostart.isEnabled());
        QVERIFY(QFileInfo::exists(Autostart::entryPath()));

        QVERIFY2(autostart.setEnabled(true, &error), qPrintable(error));
        QVERIFY(autostart.isEnabled());
    }

    void awkwardPathsSurviveTheEntrySyntax_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("plain") << QStringLiteral("/usr/bin/daybrook");
        QTest::newRow("space") << QStringLiteral("/home/a b/.local/bin/daybrook");
        QTest::newRow("quote and dollar") << QStringLiteral("/srv/\"x\"/$HOME/daybrook");
        QTest::newRow("backslash and backtick") << QStringLiteral("/srv/a\\b/`c`/d\\\"e/daybrook");
        QTest::newRow("percent") << QStringLiteral("/srv/100%u/daybrook");
        QTest::newRow("all at once") << QStringLiteral("/opt/Day Brook $1/50%/bin/daybrook");
        QTest::newRow("apostrophe, semicolon") << QStringLiteral("/srv/it's;here/daybrook");
        QTest::newRow("non-ASCII") << QStringLiteral("/home/zoë/Programme/daybrook");
    }
    void awkwardPathsSurviveTheEntrySyntax() {
        QFETCH(QString, path);
        FixedBinaryAutostart autostart(path);
        QString error;
        QVERIFY2(autostart.setEnabled(true, &error), qPrintable(error));
        QCOMPARE(test::desktopEntryCommand(Autostart::entryPath()).value(0), path);
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed (package desktop-file-utils)");
        const test::ToolResult validation = test::runTool(validator, {Autostart::entryPath()});
        QVERIFY2(validation.exitCode == 0, validation.output.constData());
    }

    void failuresAreReported() {
        const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/autostart");
        QString error;

        // A path no entry can hold: refused, nothing written.
        FixedBinaryAutostart newline(QStringLiteral("/tmp/a\nExec=evil/daybrook"));
        QVERIFY(!newline.setEnabled(true, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFileInfo::exists(folder));

        // The autostart folder cannot be created (a file is in the way; root ignores permissions).
        writeFile(folder, "not a folder");
        error.clear();
        QVERIFY(!Autostart().setEnabled(true, &error));
        QVERIFY2(error.contains(folder), qPrintable(error));
        QVERIFY(QFile::remove(folder));

        // The entry itself cannot be written or removed.
        QVERIFY(QDir().mkpath(Autostart::entryPath() + QStringLiteral("/blocker")));
        error.clear();
        QVERIFY(!Autostart().setEnabled(true, &error));
        QVERIFY2(error.contains(Autostart::entryPath()), qPrintable(error));
        error.clear();
        QVERIFY(!Autostart().setEnabled(false, &error));
        QVERIFY2(error.contains(Autostart::entryPath()), qPrintable(error));
    }

private:
    QTemporaryDir m_systemConfig;
};

QTEST_GUILESS_MAIN(AutostartTest)
#include "test_autostart.moc"

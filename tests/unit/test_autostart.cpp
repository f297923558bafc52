#include "platform/Autostart.h"
#include "support/DesktopIntegration.h"
#include "support/TestEnvironment.h"

#include <QtTest>

using namespace daybrook;

namespace {

struct FixedBinaryAutostart : Autostart {
    explicit FixedBinaryAutostart(QString path) : m_path(std::move(path)) {}
    QString binaryPath() const override { return m_path; }
    QString m_path;
};

const QByteArray entryHead = "[Desktop Entry]\nType=Application\nName=Daybrook\nExec=/usr/bin/daybrook\n";

void writeFile(const QString &path, const QByteArray &content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

} // namespace

class AutostartTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_systemConfig;
    QString m_error;
    const QString m_validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));

private Q_SLOTS:
    void initTestCase() {
        test::resetUserDefaults(); // refuses to run outside the private folders of the test runner
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_systemConfig.path()));
    }

    void init() {
        QDir(QFileInfo(Autostart::entryPath()).path()).removeRecursively();
        QDir(m_systemConfig.path() + QStringLiteral("/autostart")).removeRecursively();
    }

    void enablingStartsThisProgramAndDisablingRemovesOrHidesTheEntry() {
        QTemporaryDir elsewhere;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        Autostart autostart;
        const bool written = autostart.setEnabled(true, &m_error);
        QDir::setCurrent(before);
        QVERIFY2(written && autostart.isEnabled(), qPrintable(m_error));
        QCOMPARE(test::desktopEntryCommand(Autostart::entryPath()).value(0),
                 QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
        QVERIFY(autostart.setEnabled(false, &m_error) && !autostart.isEnabled());
        QVERIFY(!QFileInfo::exists(Autostart::entryPath()));
        // Nothing to remove is not a failure.
        QVERIFY2(autostart.setEnabled(false, &m_error), qPrintable(m_error));

        // An entry for every user is hidden by one of the user's, not ignored.
        writeFile(m_systemConfig.path() + QStringLiteral("/autostart/daybrook.desktop"), entryHead);
        QVERIFY(autostart.isEnabled());
        QVERIFY2(autostart.setEnabled(false, &m_error), qPrintable(m_error));
        QVERIFY(!autostart.isEnabled() && QFileInfo::exists(Autostart::entryPath()));
        QVERIFY2(autostart.setEnabled(true, &m_error) && autostart.isEnabled(), qPrintable(m_error));
    }

    void entriesSwitchedOffReadAsDisabled_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("Hidden = true, spaces") << entryHead + "Hidden = true\n" << false;
        QTest::newRow("Hidden=false") << entryHead + "Hidden=false\n" << true;
        QTest::newRow("GNOME switch off") << entryHead + "X-GNOME-Autostart-enabled=false\n" << false;
        QTest::newRow("Hidden in another group") << entryHead + "[Desktop Action x]\nHidden=true\n" << true;
        QTest::newRow("commented out") << entryHead + "#Hidden=true\n" << true;
    }
    void entriesSwitchedOffReadAsDisabled() {
        QFETCH(QByteArray, entry);
        writeFile(Autostart::entryPath(), entry);
        QTEST(Autostart().isEnabled(), "enabled");
    }

    void awkwardPathsSurviveTheEntrySyntax_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("quote, dollar, apostrophe") << QStringLiteral("/srv/\"x\"/$HOME/it's;here/daybrook");
        QTest::newRow("backslash and backtick") << QStringLiteral("/srv/a\\b/`c`/d\\\"e/daybrook");
        QTest::newRow("percent") << QStringLiteral("/srv/100%u/daybrook");
        QTest::newRow("non-ASCII") << QStringLiteral("/home/zoë/Programme/daybrook");
    }
    void awkwardPathsSurviveTheEntrySyntax() {
        QFETCH(QString, path);
        QVERIFY2(FixedBinaryAutostart(path).setEnabled(true, &m_error), qPrintable(m_error));
        QCOMPARE(test::desktopEntryCommand(Autostart::entryPath()).value(0), path);
        const test::ToolResult validation = test::runTool(m_validator, {Autostart::entryPath()});
        QVERIFY2(validation.exitCode == 0, validation.output.constData());
    }

    void failuresAreReported() {
        const QString folder = QFileInfo(Autostart::entryPath()).path();
        const auto refused = [this](Autostart &&autostart, bool enable, const QString &named) {
            m_error.clear();
            return !autostart.setEnabled(enable, &m_error) && !m_error.isEmpty() && m_error.contains(named);
        };
        // A path no entry can hold: refused, nothing written.
        QVERIFY(refused(FixedBinaryAutostart(QStringLiteral("/tmp/a\nExec=evil/daybrook")), true, {}) &&
                !QFileInfo::exists(folder));
        // The autostart folder cannot be created (a file is in the way; root ignores permissions).
        writeFile(folder, "not a folder");
        QVERIFY2(refused(Autostart(), true, folder), qPrintable(m_error));
        // The entry itself cannot be written or removed.
        QVERIFY(QFile::remove(folder) && QDir().mkpath(Autostart::entryPath() + QStringLiteral("/blocker")));
        QVERIFY2(refused(Autostart(), true, Autostart::entryPath()), qPrintable(m_error));
        QVERIFY2(refused(Autostart(), false, Autostart::entryPath()), qPrintable(m_error));
    }
};

QTEST_GUILESS_MAIN(AutostartTest)
#include "test_autostart.moc"

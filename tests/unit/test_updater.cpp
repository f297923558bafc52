#include "app/Updater.h"

#include <QApplication>
#include <QCoroTask>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QLabel>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

using namespace daybrook;

class UpdaterTest : public QObject {
    Q_OBJECT

    QHttpServer m_server;
    quint16 m_port = 0;
    int m_requests = 0;

    QUrl feed(const QString &path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
    }

    UpdateCheckResult check(const QUrl &url, const QString &current = QStringLiteral("1.2.0")) {
        Updater updater(url, current);
        return QCoro::waitFor(updater.check());
    }

private Q_SLOTS:
    void initTestCase() {
        for (const auto &[path, body] : {
                 std::pair{"/newer", R"({"version": "1.10.0", "url": "https://example.org/daybrook/1.10"})"},
                 {"/same", R"({"version": "1.2", "url": "https://example.org/daybrook/1.2"})"},
                 {"/older", R"({"version": "v1.1.9", "url": "https://example.org/daybrook/1.1.9"})"},
                 {"/malformed", R"({"version": "1.3.0", "url": )"},
                 {"/no-version", R"({"url": "https://example.org/"})"},
                 {"/script-link", R"({"version": "2.0", "url": "javascript:alert(1)"})"},
                 {"/markup", R"({"version": "2.0", "url": "https://example.org/a\"><b>x</b>"})"},
             }) {
            m_server.route(QString::fromLatin1(path), [this, body = QByteArray(body)] {
                ++m_requests;
                return QHttpServerResponse("application/json", body);
            });
        }
        m_server.route("/huge",
                       [] { return QHttpServerResponse("application/json", QByteArray(200 * 1024, ' ')); });
        m_server.route("/broken", [] {
            return QHttpServerResponse("text/html", "<h1>oops</h1>",
                                       QHttpServerResponder::StatusCode::InternalServerError);
        });
        m_port = m_server.listen(QHostAddress::LocalHost);
        QVERIFY(m_port != 0);
    }

    void comparesVersions_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        for (const auto &[name, a, b, order] : {
                 std::tuple{"equal", "1.2.0", "1.2.0", 0},
                 {"missing parts are zero", "1.2", "1.2.0", 0},
                 {"numeric, not textual", "1.10.0", "1.9.9", 1},
                 {"older", "0.9", "1.0", -1},
                 {"leading v", "v2.0", "2.0.0", 0},
                 {"pre-release first", "1.2.0-beta", "1.2.0", -1},
                 {"pre-releases", "1.2.0-beta", "1.2.0-alpha", 1},
                 {"build metadata ignored", "1.2.0+45", "1.2.0", 0},
             })
            QTest::newRow(name) << QString::fromLatin1(a) << QString::fromLatin1(b) << order;
    }
    void comparesVersions() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(compareVersions(a, b), std::optional<int>(order));
        QCOMPARE(compareVersions(b, a), std::optional<int>(-order));
    }

    void rejectsWhatIsNoVersion() {
        for (const char *text : {"", "1..2", "abc", "1.2.x", "1.2-", "99999999999.1", "1.2 beta"})
            QVERIFY2(!compareVersions(QString::fromLatin1(text), QStringLiteral("1.0")), text);
    }

    void newerReleaseNamesItsPage() {
        const UpdateCheckResult result = check(feed(QStringLiteral("/newer")));
        QCOMPARE(result.kind, UpdateCheckResult::Kind::UpdateAvailable);
        QCOMPARE(result.latestVersion, QStringLiteral("1.10.0"));
        QCOMPARE(result.pageUrl, QUrl(QStringLiteral("https://example.org/daybrook/1.10")));
        const UpdateMessage message = updateMessage(result);
        QVERIFY(message.text.contains(QLatin1String("1.10.0")));
        QVERIFY(message.text.contains(QLatin1String("href=\"https://example.org/daybrook/1.10\"")));
    }

    void sameOrOlderIsUpToDate() {
        QCOMPARE(check(feed(QStringLiteral("/same"))).kind, UpdateCheckResult::Kind::UpToDate);
        QCOMPARE(check(feed(QStringLiteral("/older"))).kind, UpdateCheckResult::Kind::UpToDate);
        // A pre-release of the running version is no update.
        QCOMPARE(check(feed(QStringLiteral("/same")), QStringLiteral("1.2.0-rc1")).kind,
                 UpdateCheckResult::Kind::UpdateAvailable);
    }

    void badFeedsAreErrors_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("error");
        for (const auto &[path, error] : {
                 std::pair{"/malformed", "not valid JSON"},
                 {"/no-version", "\"version\""},
                 {"/script-link", "\"url\""},
                 {"/missing", "404"},
                 {"/broken", "500"},
                 {"/huge", "too large"},
                 {"closed", ""},
             })
            QTest::newRow(path) << QString::fromLatin1(path) << QString::fromLatin1(error);
    }
    void badFeedsAreErrors() {
        QFETCH(QString, path);
        QFETCH(QString, error);
        QTcpServer closed; // a port where nothing listens
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        closed.close();
        const UpdateCheckResult result =
            check(path == QLatin1String("closed")
                      ? QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort()))
                      : feed(path));
        QCOMPARE(result.kind, UpdateCheckResult::Kind::Failed);
        QVERIFY(!result.error.isEmpty());
        QVERIFY2(result.error.contains(error), qPrintable(result.error));
        QVERIFY(updateMessage(result).text.startsWith(QLatin1String("Daybrook could not check for updates")));
    }

    void markupInTheFeedIsShownAsText() {
        // Such an address is refused outright...
        QCOMPARE(check(feed(QStringLiteral("/markup"))).kind, UpdateCheckResult::Kind::Failed);
        // ...and whatever reaches the dialog is escaped.
        UpdateCheckResult result{UpdateCheckResult::Kind::UpdateAvailable,
                                 QStringLiteral("1.0"),
                                 QStringLiteral("<i>2</i>"),
                                 QUrl(QStringLiteral("https://example.org/?a=<b>")),
                                 {}};
        const QString text = updateMessage(result).text;
        QVERIFY(!text.contains(QLatin1String("<i>")));
        QVERIFY(!text.contains(QLatin1String("<b>")));
        QVERIFY(text.contains(QLatin1String("&lt;i&gt;2&lt;/i&gt;")));
    }

    void menuCommandAlwaysAnswersWithADialog() {
        Updater updater(feed(QStringLiteral("/same")), QStringLiteral("1.2.0"));
        QSignalSpy finished(&updater, &Updater::checkFinished);
        updater.checkForUpdates();
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(updater.dialog() && updater.dialog()->isVisible());
        QVERIFY(updater.dialog()->text().contains(QLatin1String("newest version")));
        updater.dialog()->close();
        QTRY_VERIFY(!updater.dialog());

        // Without a feed nothing is fetched, and the command still answers.
        const int before = m_requests;
        Updater unconfigured(QUrl(), QStringLiteral("1.2.0"));
        unconfigured.startAutomaticChecks();
        QVERIFY(!unconfigured.dailyTimer());
        unconfigured.checkForUpdates();
        QTRY_VERIFY(unconfigured.dialog());
        QVERIFY(unconfigured.dialog()->text().contains(QLatin1String("no update feed")));
        QCOMPARE(m_requests, before);
    }

    void automaticChecksAreDailyAndQuietUnlessNewer() {
        Updater quiet(feed(QStringLiteral("/same")), QStringLiteral("1.2.0"));
        QSignalSpy quietFinished(&quiet, &Updater::checkFinished);
        quiet.setFirstCheckDelay(0);
        quiet.startAutomaticChecks();
        QVERIFY(quiet.dailyTimer() && quiet.dailyTimer()->isActive());
        QCOMPARE(quiet.dailyTimer()->interval(), 24 * 60 * 60 * 1000);
        QTRY_COMPARE_WITH_TIMEOUT(quietFinished.size(), 1, 10000);
        QVERIFY(!quiet.dialog());

        Updater newer(feed(QStringLiteral("/newer")), QStringLiteral("1.2.0"));
        QSignalSpy newerFinished(&newer, &Updater::checkFinished);
        newer.setFirstCheckDelay(0);
        newer.startAutomaticChecks();
        QTRY_COMPARE_WITH_TIMEOUT(newerFinished.size(), 1, 10000);
        QVERIFY(newer.dialog() && newer.dialog()->text().contains(QLatin1String("1.10.0")));
    }
};

QTEST_MAIN(UpdaterTest)
#include "test_updater.moc"

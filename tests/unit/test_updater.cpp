#include "app/Updater.h"

#include <QApplication>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QSignalSpy>
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

private Q_SLOTS:
    void initTestCase() {
        using Status = QHttpServerResponder::StatusCode;
        for (const auto &[path, body, status] : {
                 std::tuple{"/newer", "{\"version\": \"1.10.0\", \"url\": \"https://example.org/1.10\"}",
                            Status::Ok},
                 {"/same", "{\"version\": \"1.2\", \"url\": \"https://example.org/1.2\"}", Status::Ok},
                 {"/older", "{\"version\": \"v1.1.9\", \"url\": \"https://example.org/1.1.9\"}", Status::Ok},
                 {"/malformed", "{\"version\": \"1.3.0\", \"url\": ", Status::Ok},
                 {"/no-version", "{\"url\": \"https://example.org/\"}", Status::Ok},
                 {"/script-link", "{\"version\": \"2.0\", \"url\": \"javascript:alert(1)\"}", Status::Ok},
                 {"/markup", "{\"version\": \"2.0\", \"url\": \"https://example.org/a\\\"><b>x</b>\"}",
                  Status::Ok},
                 {"/broken", "<h1>oops</h1>", Status::InternalServerError},
                 {"/huge", "", Status::Ok},
             }) {
            const QByteArray reply = *body ? QByteArray(body) : QByteArray(200 * 1024, ' ');
            m_server.route(QString::fromLatin1(path), [this, reply, status] {
                ++m_requests;
                return QHttpServerResponse("application/json", reply, status);
            });
        }
        m_port = m_server.listen(QHostAddress::LocalHost);
        QVERIFY(m_port != 0);
    }

    void comparesVersions_data() {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("order");
        for (const auto &[name, a, b, order] : {
                 std::tuple{"missing parts are zero", "1.2", "1.2.0", 0},
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
        for (const char *text : {"", "1..2", "abc", "1.2.x", "1.2-", "99999999999.1", "1.2 beta"})
            QVERIFY2(!compareVersions(QString::fromLatin1(text), a), text);
    }

    void feedsAreJudged_data() {
        QTest::addColumn<QString>("address"); // a path on the feed server, or a whole address
        QTest::addColumn<QString>("current");
        QTest::addColumn<int>("kind");      // up to date, update available, failed
        QTest::addColumn<QString>("shown"); // in the error, else in the message
        const char *page = "1.10.0 is available; you have 1.2.0.<br><br><a href=\"https://example.org/1.10\"";
        for (const auto &[name, address, current, kind, shown] : {
                 std::tuple{"newer", "/newer", "1.2.0", 2, page},
                 {"same", "/same", "1.2.0", 1, "1.2.0 is the newest"},
                 {"older", "/older", "1.2.0", 1, ""},
                 // A pre-release of the running version is no update.
                 {"running a pre-release", "/same", "1.2.0-rc1", 2, "1.2 is available"},
                 {"malformed", "/malformed", "1.2.0", 3, "not valid JSON"},
                 {"no version", "/no-version", "1.2.0", 3, "\"version\""},
                 {"script link", "/script-link", "1.2.0", 3, "\"url\""},
                 {"markup in the link", "/markup", "1.2.0", 3, ""},
                 {"missing", "/missing", "1.2.0", 3, "404"},
                 {"server error", "/broken", "1.2.0", 3, "500"},
                 {"too large", "/huge", "1.2.0", 3, "too large"},
                 {"nothing listens", "http://127.0.0.1:1/", "1.2.0", 3, ""},
             })
            QTest::newRow(name) << QString::fromLatin1(address) << QString::fromLatin1(current) << kind
                                << QString::fromLatin1(shown);
    }
    void feedsAreJudged() {
        QFETCH(QString, address);
        QFETCH(QString, current);
        QFETCH(QString, shown);
        Updater updater(address.startsWith(QLatin1Char('/')) ? feed(address) : QUrl(address), current);
        const UpdateCheckResult result = QCoro::waitFor(updater.check());
        QTEST(int(result.kind), "kind");
        QCOMPARE(result.error.isEmpty(), result.kind != UpdateCheckResult::Kind::Failed);
        const QString text = result.error.isEmpty() ? updateMessage(result).text : result.error;
        QVERIFY2(text.contains(shown), qPrintable(text));
    }

    void markupInTheFeedIsShownAsText() {
        const QString text = updateMessage({UpdateCheckResult::Kind::UpdateAvailable,
                                            QStringLiteral("1.0"),
                                            QStringLiteral("<i>2</i>"),
                                            QUrl(QStringLiteral("https://example.org/?a=<b>")),
                                            {}})
                                 .text;
        QVERIFY(!text.contains(QLatin1String("<i>")) && !text.contains(QLatin1String("<b>")));
        QVERIFY(text.contains(QLatin1String("&lt;i&gt;2&lt;/i&gt;")));
    }

    void menuCommandAlwaysAnswersWithADialog() {
        Updater updater(feed(QStringLiteral("/same")), QStringLiteral("1.2.0"));
        updater.checkForUpdates();
        QTRY_VERIFY(updater.dialog() && updater.dialog()->isVisible());
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
        for (const auto &[path, shown] : {std::pair{"/same", false}, std::pair{"/newer", true}}) {
            Updater updater(feed(QLatin1String(path)), QStringLiteral("1.2.0"));
            QSignalSpy finished(&updater, &Updater::checkFinished);
            updater.setFirstCheckDelay(0);
            updater.startAutomaticChecks();
            QVERIFY(updater.dailyTimer() && updater.dailyTimer()->isActive());
            QCOMPARE(updater.dailyTimer()->interval(), 24 * 60 * 60 * 1000);
            QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
            QCOMPARE(updater.dialog() != nullptr, shown);
        }
    }
};

QTEST_MAIN(UpdaterTest)
#include "test_updater.moc"

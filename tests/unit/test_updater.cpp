#include "app/Updater.h"

#include <QtHttpServer>
#include <QtTest>
#include <QtWidgets>

using namespace daybrook;

static QByteArray release(const char *version, const char *url = "https://example.org/1.10") {
    return QJsonDocument(QJsonObject{{"version", version}, {"url", url}}).toJson();
}

class UpdaterTest : public QObject {
    Q_OBJECT

    QHttpServer m_server;
    QUrl m_feed;
    QByteArray m_body; // the feed's reply: JSON, an HTTP status code, or "huge"
    int m_requests = 0;

    Updater *serving(const QByteArray &body, const QString &current = "1.2.0") {
        m_body = body;
        return new Updater(body.isEmpty() ? QUrl("http://127.0.0.1:1/") : m_feed, current, this);
    }

private Q_SLOTS:
    void initTestCase() {
        m_server.route("/feed", [this] {
            ++m_requests;
            if (m_body == "huge")
                return QHttpServerResponse("application/json", QByteArray(200 * 1024, ' '));
            if (const int status = m_body.toInt())
                return QHttpServerResponse(QHttpServerResponder::StatusCode(status));
            return QHttpServerResponse("application/json", m_body);
        });
        m_feed =
            QUrl(QStringLiteral("http://127.0.0.1:%1/feed").arg(m_server.listen(QHostAddress::LocalHost)));
        QVERIFY(m_feed.port() > 0);
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
            QTest::newRow(name) << QString(a) << QString(b) << order;
    }
    void comparesVersions() {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, order);
        QCOMPARE(compareVersions(a, b), std::optional<int>(order));
        QCOMPARE(compareVersions(b, a), std::optional<int>(-order));
        for (const char *text : {"", "1..2", "abc", "1.2.x", "1.2-", "99999999999.1", "1.2 beta"})
            QVERIFY2(!compareVersions(text, a), text);
    }

    void feedsAreJudged_data() {
        QTest::addColumn<QByteArray>("body"); // empty: nothing listens
        QTest::addColumn<QString>("current");
        QTest::addColumn<int>("kind");      // up to date, update available, failed
        QTest::addColumn<QString>("shown"); // in the error, else in the message
        const char *offer = "1.10.0 is available; you have 1.2.0.<br><br><a href=\"https://example.org/1.10";
        for (const auto &[name, body, current, kind, shown] : {
                 std::tuple{"newer", release("1.10.0"), "1.2.0", 2, offer},
                 {"same", release("1.2"), "1.2.0", 1, "1.2.0 is the newest"},
                 {"older", release("v1.1.9"), "1.2.0", 1, ""},
                 // A pre-release of the running version is no update.
                 {"running a pre-release", release("1.2"), "1.2.0-rc1", 2, "1.2 is available"},
                 {"malformed", "{\"version\": \"1.3.0\", \"url\": ", "1.2.0", 3, "not valid JSON"},
                 {"no version", "{\"url\": \"https://example.org/\"}", "1.2.0", 3, "\"version\""},
                 {"script link", release("2.0", "javascript:void"), "1.2.0", 3, "\"url\""},
                 {"markup in the link", release("2.0", "https://example.org/a\"><b>x</b>"), "1.2.0", 3, ""},
                 {"server error", "500", "1.2.0", 3, "500"},
                 {"too large", "huge", "1.2.0", 3, "too large"},
                 {"nothing listens", "", "1.2.0", 3, ""},
             })
            QTest::newRow(name) << body << QString(current) << kind << QString(shown);
    }
    void feedsAreJudged() {
        QFETCH(QByteArray, body);
        QFETCH(QString, current);
        QFETCH(QString, shown);
        const UpdateCheckResult result = QCoro::waitFor(serving(body, current)->check());
        QTEST(int(result.kind), "kind");
        QCOMPARE(result.error.isEmpty(), result.kind != UpdateCheckResult::Kind::Failed);
        const QString text = result.error.isEmpty() ? updateMessage(result).text : result.error;
        QVERIFY2(text.contains(shown), qPrintable(text));
    }

    void markupInTheFeedIsShownAsText() {
        using enum UpdateCheckResult::Kind;
        const QString text =
            updateMessage({UpdateAvailable, "1.0", "<i>2</i>", QUrl("https://a.org/?<b>")}).text;
        QVERIFY(!text.contains("<i>") && !text.contains("<b>") && text.contains("&lt;i&gt;2&lt;/i&gt;"));
    }

    void menuCommandAlwaysAnswersWithADialog() {
        Updater *updater = serving(release("1.2"));
        updater->checkForUpdates();
        QTRY_VERIFY(updater->dialog() && updater->dialog()->isVisible() &&
                    updater->dialog()->text().contains("newest version"));
        updater->dialog()->close();
        QTRY_VERIFY(!updater->dialog());

        // Without a feed nothing is fetched, and the command still answers.
        const int before = m_requests;
        Updater unconfigured(QUrl(), "1.2.0");
        unconfigured.startAutomaticChecks();
        QVERIFY(!unconfigured.dailyTimer());
        unconfigured.checkForUpdates();
        QTRY_VERIFY(unconfigured.dialog() && unconfigured.dialog()->text().contains("no update feed"));
        QCOMPARE(m_requests, before);
    }

    void automaticChecksAreDailyAndQuietUnlessNewer() {
        for (const auto &[version, shown] : {std::pair{"1.2", false}, {"1.10.0", true}}) {
            Updater *updater = serving(release(version));
            QSignalSpy finished(updater, &Updater::checkFinished);
            updater->setFirstCheckDelay(0);
            updater->startAutomaticChecks();
            QVERIFY(updater->dailyTimer() && updater->dailyTimer()->isActive());
            QCOMPARE(updater->dailyTimer()->interval(), 24 * 60 * 60 * 1000);
            QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
            QCOMPARE(updater->dialog() != nullptr, shown);
        }
    }
};

QTEST_MAIN(UpdaterTest)
#include "test_updater.moc"

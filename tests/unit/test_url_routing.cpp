#include "core/UrlRouting.h"

#include <QTest>

using namespace daybrook;

class UrlRoutingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void acceptsOnlyTheExactCallbackAddress_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        // The query is kept as it came, encoding and repeated keys too.
        QTest::newRow("callback with query")
            << "daybrook://oauth/todoist?code=a%2Bb&state=S-1&code=second" << true;
        QTest::newRow("callback without query") << "daybrook://oauth/todoist" << true;
        QTest::newRow("capital scheme") << "Daybrook://oauth/todoist?code=a&state=b" << false;
        QTest::newRow("capital host") << "daybrook://OAuth/todoist?code=a&state=b" << false;
        QTest::newRow("capital path") << "daybrook://oauth/Todoist?code=a&state=b" << false;
        QTest::newRow("trailing slash") << "daybrook://oauth/todoist/?code=a" << false;
        QTest::newRow("not a url") << "daybrook:// oauth todoist" << false;
    }
    void acceptsOnlyTheExactCallbackAddress() {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        const std::optional<QUrl> url = oauthCallbackUrl(text);
        QCOMPARE(url.has_value(), accepted);
        QCOMPARE(url.value_or(QUrl()).query(QUrl::FullyEncoded), accepted ? text.section('?', 1) : QString());
    }
};

QTEST_GUILESS_MAIN(UrlRoutingTest)
#include "test_url_routing.moc"

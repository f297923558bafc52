#include "core/Clock.h"
#include "support/TestEnvironment.h"
#include "todoist/TodoistDecoding.h"
#include "todoist/TodoistEntries.h"

#include <QTest>

using namespace daybrook;

namespace {

QByteArray page(const QByteArray &results, const QByteArray &cursor = "null") {
    return R"({"results": [)" + results + R"(], "next_cursor": )" + cursor + "}";
}

QDateTime utc(int y, int mo, int d, int h, int mi, int s = 0, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

TodoistTask task(const QString &id, const QString &projectId, std::optional<QString> datetime,
                 const QString &date, std::optional<TodoistDuration> duration = std::nullopt) {
    TodoistTask t;
    t.id = id;
    t.content = QStringLiteral("Task ") + id;
    t.projectId = projectId;
    t.due = TodoistDue{date, std::move(datetime), std::nullopt};
    t.duration = std::move(duration);
    return t;
}

TodoistProject project(const QString &id, std::optional<QString> parent, qint64 order,
                       const QString &color = "blue") {
    return TodoistProject{id, QStringLiteral("Project ") + id, color, std::move(parent), order};
}

QStringList ids(const QList<ProjectNode> &nodes) {
    QStringList result;
    for (const ProjectNode &node : nodes)
        result << node.project.id;
    return result;
}

} // namespace

class TodoistDecodingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() {
        Clock::reset();
        test::setTimeZone("UTC");
    }

    // MARK: Tasks

    void decodesARealisticTaskAndIgnoresUnknownKeys() {
        const auto decoded = decodeTaskPage(page(R"(
            {"id": "6cQ9vS8kTn2Wq4Lm", "project_id": "6cQ9vA1bCd2Ef3Gh", "content": "Call the bank \u260E\uFE0F",
             "due": {"date": "2030-01-15T11:00:00", "timezone": null, "string": "today at 11:00", "lang": "en",
                     "is_recurring": false},
             "duration": {"amount": 45, "unit": "minute"}, "child_order": 3, "priority": 1, "labels": ["a", 2],
             "checked": false, "deadline": {"date": 5}, "description": null, "goal_ids": [[]]},
            {"id": "2", "project_id": "p", "content": "No dates", "due": null, "duration": null},
            {"id": "3", "project_id": "p", "content": "All day", "due": {"date": "2030-01-15"}})",
                                                 R"("next+cursor/=")"));
        QVERIFY2(decoded, qPrintable(decoded.error));
        const auto &tasks = decoded.value->results;
        QCOMPARE(tasks.size(), 3);
        QCOMPARE(tasks[0].id, QStringLiteral("6cQ9vS8kTn2Wq4Lm"));
        QCOMPARE(tasks[0].content, QStringLiteral("Call the bank \u260E\uFE0F"));
        QCOMPARE(tasks[0].due->date, QStringLiteral("2030-01-15"));
        QCOMPARE(tasks[0].due->datetime, QStringLiteral("2030-01-15T11:00:00"));
        QVERIFY(!tasks[0].due->timezone);
        QCOMPARE(tasks[0].duration->amount, 45);
        QCOMPARE(tasks[0].duration->unit, QStringLiteral("minute"));
        QVERIFY(!tasks[1].due && !tasks[1].duration);
        QCOMPARE(tasks[2].due->date, QStringLiteral("2030-01-15"));
        QVERIFY(!tasks[2].due->datetime);
        QCOMPARE(decoded.value->nextCursor, QStringLiteral("next+cursor/="));
    }

    // A fixed time's day is the local day of the instant, so the same task is
    // due on different days in different zones.
    void fixedTimesGetTheLocalDay_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("date");
        QTest::newRow("Berlin, late UTC evening") << QByteArray("Europe/Berlin") << "2030-01-15T23:30:00Z"
                                                  << "2030-01-16";
        QTest::newRow("New York, late UTC evening")
            << QByteArray("America/New_York") << "2030-01-15T23:30:00Z"
            << "2030-01-15";
        QTest::newRow("New York, early UTC morning")
            << QByteArray("America/New_York") << "2030-01-16T03:00:00.000000Z"
            << "2030-01-15";
        QTest::newRow("floating stays on its day") << QByteArray("America/New_York") << "2030-01-16T03:00:00"
                                                   << "2030-01-16";
        QTest::newRow("unreadable fixed time keeps its written day")
            << QByteArray("Europe/Berlin") << "2030-01-15T25:00:00Z"
            << "2030-01-15";
    }
    void fixedTimesGetTheLocalDay() {
        QFETCH(QByteArray, zone);
        QFETCH(QString, text);
        QFETCH(QString, date);
        test::setTimeZone(zone);
        const auto decoded =
            decodeTaskPage(page(R"({"id": "1", "project_id": "p", "content": "c", "due": {"date": ")" +
                                text.toUtf8() + R"("}})"));
        QVERIFY2(decoded, qPrintable(decoded.error));
        QCOMPARE(decoded.value->results[0].due->date, date);
        QCOMPARE(decoded.value->results[0].due->datetime, text);
    }

    // One bad element fails the whole list: no partial lists ever reach the bar.
    void strictnessFailsTheWholeList_data() {
        QTest::addColumn<QByteArray>("body");
        const QByteArray good = R"({"id": "ok", "project_id": "p", "content": "fine"})";
        QTest::newRow("missing project_id") << page(good + R"(, {"id": "2", "content": "c"})");
        QTest::newRow("null id") << page(good + R"(, {"id": null, "project_id": "p", "content": "c"})");
        QTest::newRow("numeric id") << page(R"({"id": 12, "project_id": "p", "content": "c"})");
        QTest::newRow("numeric content") << page(R"({"id": "1", "project_id": "p", "content": 5})");
        QTest::newRow("due without date")
            << page(R"({"id": "1", "project_id": "p", "content": "c", "due": {}})");
        QTest::newRow("due date a number")
            << page(R"({"id": "1", "project_id": "p", "content": "c", "due": {"date": 20300115}})");
        QTest::newRow("due a string")
            << page(R"({"id": "1", "project_id": "p", "content": "c", "due": "2030-01-15"})");
        QTest::newRow("timezone a number") << page(
            R"({"id": "1", "project_id": "p", "content": "c", "due": {"date": "2030-01-15", "timezone": 1}})");
        QTest::newRow("fractional amount") << page(
            R"({"id": "1", "project_id": "p", "content": "c", "duration": {"amount": 1.5, "unit": "minute"}})");
        QTest::newRow("amount as text") << page(
            R"({"id": "1", "project_id": "p", "content": "c", "duration": {"amount": "30", "unit": "minute"}})");
        QTest::newRow("duration without unit")
            << page(R"({"id": "1", "project_id": "p", "content": "c", "duration": {"amount": 30}})");
        QTest::newRow("element not an object") << page(good + ", 7");
        QTest::newRow("results missing") << QByteArray(R"({"next_cursor": null})");
        QTest::newRow("results an object") << QByteArray(R"({"results": {}})");
        QTest::newRow("cursor a number") << page(good, "12");
        QTest::newRow("a bare array (the retired API's shape)") << "[" + good + "]";
        QTest::newRow("an error object") << QByteArray(R"({"error": "Unauthorized", "http_code": 401})");
        QTest::newRow("HTML") << QByteArray("<html><body>500 Internal Server Error</body></html>");
        QTest::newRow("cut off") << page(good).left(30);
        QTest::newRow("empty") << QByteArray();
    }
    void strictnessFailsTheWholeList() {
        QFETCH(QByteArray, body);
        const auto decoded = decodeTaskPage(body);
        QVERIFY(!decoded);
        QVERIFY(!decoded.error.isEmpty());
    }

    // Lists are read by our own scanner: it must read JSON exactly, neither
    // losing text nor taking what is not JSON.
    void readsJsonExactly() {
        // Written without raw strings: escapes are the point here.
        const QByteArray tricky =
            "{\"\\u0069d\": \"first\", \"id\": \"x\\\"y\\\\z\\/\", \"project_id\": \"p\", "
            "\"content\": \"a\\nb\\t\\u263A\\ud83d\\ude00 \xC3\xA9\", "
            "\"extra\": {\"deep\": [[[{\"k\": [1, -0, 2.5e-3, true, false, null, \"\\u0000\"]}]]], \"n\": "
            "1E+400}, "
            "\"due\": {\"date\": \"2030-01-15\", \"date\": \"2030-01-16\"}, "
            "\"duration\": {\"amount\": 2.0, \"unit\": \"day\"}}";
        const auto decoded = decodeTaskPage("\xEF\xBB\xBF" + page(tricky) + " \n");
        QVERIFY2(decoded, qPrintable(decoded.error));
        const TodoistTask &task = decoded.value->results[0];
        // The last of two equal keys wins, escaped or not.
        QCOMPARE(task.id, QStringLiteral("x\"y\\z/"));
        QCOMPARE(task.content, QStringLiteral("a\nb\t\u263A\U0001F600 \u00E9"));
        QCOMPARE(task.due->date, QStringLiteral("2030-01-16"));
        QCOMPARE(task.duration->amount, 2);
        // U+FEFF inside text is a character like any other, also first or
        // right after an escape.
        const auto bom = decodeTaskPage(page("{\"id\": \"\xEF\xBB\xBF"
                                             "1\", \"project_id\": \"p\", "
                                             "\"content\": \"a\\n\xEF\xBB\xBF\xEF\xBB\xBF"
                                             "b\"}"));
        QVERIFY2(bom, qPrintable(bom.error));
        QCOMPARE(bom.value->results[0].id, QStringLiteral("\uFEFF1"));
        QCOMPARE(bom.value->results[0].content, QStringLiteral("a\n\uFEFF\uFEFFb"));

        const QByteArray good = R"({"id": "1", "project_id": "p", "content": "c"})";
        QVERIFY(decodeTaskPage(page(good)));
        QVERIFY(!decodeTaskPage(page(good) + "x"));
        QVERIFY(!decodeTaskPage(page(good) + "{}"));
        QVERIFY(!decodeTaskPage(page("{\"id\": \"1\", \"project_id\": \"p\", \"content\": \"tab\there\"}")));
        QVERIFY(
            !decodeTaskPage(page("{\"id\": \"1\", \"project_id\": \"p\", \"content\": \"bad \\q escape\"}")));
        QVERIFY(
            !decodeTaskPage(page("{\"id\": \"1\", \"project_id\": \"p\", \"content\": \"short \\u12\"}")));
        QVERIFY(!decodeTaskPage(page("{\"id\": \"1\", \"project_id\": \"p\", \"content\": \"\xC3\"}")));
        QVERIFY(
            !decodeTaskPage(page("{\"id\": \"1\", \"project_id\": \"p\", \"content\": \"\xED\xA0\x80\"}")));
        QVERIFY(!decodeTaskPage(page(R"({"id": "1", "project_id": "p", "content": "c", "n": 01})")));
        QVERIFY(!decodeTaskPage(page(R"({"id": "1", "project_id": "p", "content": "c", "n": .5})")));
        QVERIFY(!decodeTaskPage(page(R"({"id": "1", "project_id": "p", "content": "c",})")));
        QVERIFY(!decodeTaskPage(page(R"({"id": "1", "project_id": "p", "content": "c", "x": [1,]})")));
        QVERIFY(!decodeTaskPage(page(R"({"id": "1", "project_id": "p", "content": "c", "x": nul})")));
        QVERIFY(!decodeTaskPage(page(good) + QByteArray(1, '\0')));
        // Unknown values nested far too deep are refused, not recursed into.
        const QByteArray deep = QByteArray(100000, '[') + QByteArray(100000, ']');
        QVERIFY(
            !decodeTaskPage(page(R"({"id": "1", "project_id": "p", "content": "c", "x": )" + deep + "}")));
        const QByteArray fine = QByteArray(500, '[') + QByteArray(500, ']');
        QVERIFY(decodeTaskPage(page(R"({"id": "1", "project_id": "p", "content": "c", "x": )" + fine + "}")));
    }

    void cursorEndsTheListWhenNullAbsentOrEmpty() {
        QVERIFY(!decodeTaskPage(page("", "null")).value->nextCursor);
        QVERIFY(!decodeTaskPage(R"({"results": []})").value->nextCursor);
        QVERIFY(!decodeTaskPage(page("", R"("")")).value->nextCursor);
    }

    // MARK: Projects and tokens

    void decodesProjects() {
        const auto decoded = decodeProjectPage(page(R"(
            {"id": "a", "name": "Work", "color": "blue", "parent_id": null, "child_order": 2, "inbox_project": true,
             "view_style": "list", "is_shared": false},
            {"id": "b", "name": "Sub", "color": "berry_red", "parent_id": "a", "child_order": 1},
            {"id": "c", "name": "Top", "color": "grey", "child_order": 0})"));
        QVERIFY2(decoded, qPrintable(decoded.error));
        const auto &projects = decoded.value->results;
        QCOMPARE(projects.size(), 3);
        QVERIFY(!projects[0].parentId);
        QCOMPARE(projects[0].order, 2);
        QCOMPARE(projects[1].parentId, QStringLiteral("a"));
        QVERIFY(!projects[2].parentId);

        QVERIFY(!decodeProjectPage(page(R"({"id": "a", "name": "W", "color": "blue", "order": 2})")));
        QVERIFY(!decodeProjectPage(page(R"({"id": "a", "name": "W", "color": "blue", "child_order": 2.5})")));
        QVERIFY(!decodeProjectPage(page(R"({"id": "a", "name": "W", "color": "blue", "child_order": 1,
                                             "parent_id": 7})")));
        QVERIFY(!decodeProjectPage(page(R"({"id": "a", "name": "W", "child_order": 1})")));
    }

    void decodesTokenResponses() {
        const auto classic = decodeTokenResponse(R"({"access_token": "t0k", "token_type": "Bearer"})");
        QVERIFY(classic);
        QCOMPARE(classic.value->accessToken, QStringLiteral("t0k"));
        QVERIFY(!classic.value->expiresIn && !classic.value->refreshToken);

        const auto expiring = decodeTokenResponse(R"({"access_token": "a", "token_type": "Bearer",
            "expires_in": 3600, "refresh_token": "r", "scope": "data:read"})");
        QVERIFY(expiring);
        QCOMPARE(expiring.value->expiresIn, 3600);
        QCOMPARE(expiring.value->refreshToken, QStringLiteral("r"));

        QVERIFY(!decodeTokenResponse(R"({"access_token": "a"})"));
        QVERIFY(!decodeTokenResponse(R"({"access_token": "", "token_type": "Bearer"})"));
        QVERIFY(
            !decodeTokenResponse(R"({"access_token": "a", "token_type": "Bearer", "expires_in": "3600"})"));
        QVERIFY(!decodeTokenResponse(R"({"access_token": 5, "token_type": "Bearer"})"));
        QVERIFY(!decodeTokenResponse(R"({"error": "bad_authorization_code"})"));
        QVERIFY(!decodeTokenResponse(R"(["access_token"])"));
    }

    // MARK: Due times

    void parsesDueDatetimes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected"); // null: refused
        const QDateTime none;
        QTest::newRow("Z") << "2030-01-15T09:30:00Z" << utc(2030, 1, 15, 9, 30);
        QTest::newRow("positive offset") << "2030-01-15T09:30:00+05:30" << utc(2030, 1, 15, 4, 0);
        QTest::newRow("negative offset") << "2030-01-15T09:30:00-03:00" << utc(2030, 1, 15, 12, 30);
        QTest::newRow("one fractional digit") << "2030-01-15T09:30:00.5Z" << utc(2030, 1, 15, 9, 30, 0, 500);
        QTest::newRow("six digits") << "2030-01-15T13:30:00.000000Z" << utc(2030, 1, 15, 13, 30);
        QTest::newRow("nine digits never round up")
            << "2030-01-15T09:30:59.999999999Z" << utc(2030, 1, 15, 9, 30, 59, 999);
        QTest::newRow("ten digits") << "2030-01-15T09:30:00.0000000000Z" << none;
        QTest::newRow("dot without digits") << "2030-01-15T09:30:00.Z" << none;
        QTest::newRow("no seconds") << "2030-01-15T09:30Z" << none;
        QTest::newRow("offset without colon") << "2030-01-15T09:30:00+0100" << none;
        QTest::newRow("offset hours out of range") << "2030-01-15T09:30:00+24:00" << none;
        QTest::newRow("February 30") << "2030-02-30T09:30:00Z" << none;
        QTest::newRow("hour 24") << "2030-01-15T24:00:00Z" << none;
        QTest::newRow("second 60") << "2030-01-15T09:30:60Z" << none;
        QTest::newRow("space for T") << "2030-01-15 09:30:00Z" << none;
        QTest::newRow("trailing text") << "2030-01-15T09:30:00Zx" << none;
        QTest::newRow("date only") << "2030-01-15" << none;
        QTest::newRow("signed digits") << "2030-01-15T09:3+:00Z" << none;
        QTest::newRow("non-ASCII digits") << QString::fromUtf8("2030-01-15T0\u0669:30:00Z") << none;
        QTest::newRow("empty") << "" << none;
    }
    void parsesDueDatetimes() {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        // Fixed instants do not depend on the zone the user is in.
        for (const char *zone : {"Europe/Berlin", "America/New_York"}) {
            test::setTimeZone(zone);
            const auto parsed = parseDueDatetime(text);
            QCOMPARE(parsed.has_value(), expected.isValid());
            if (parsed)
                QCOMPARE(*parsed, expected);
        }
    }

    void floatingTimesAreOnTheLocalClock_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected");
        QTest::newRow("Berlin winter")
            << QByteArray("Europe/Berlin") << "2030-01-15T09:30:00" << utc(2030, 1, 15, 8, 30);
        QTest::newRow("Berlin summer")
            << QByteArray("Europe/Berlin") << "2030-07-15T09:30:00" << utc(2030, 7, 15, 7, 30);
        QTest::newRow("New York") << QByteArray("America/New_York") << "2030-01-15T09:30:00"
                                  << utc(2030, 1, 15, 14, 30);
        QTest::newRow("New York, fraction") << QByteArray("America/New_York") << "2030-01-15T09:30:00.250"
                                            << utc(2030, 1, 15, 14, 30, 0, 250);
    }
    void floatingTimesAreOnTheLocalClock() {
        QFETCH(QByteArray, zone);
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        test::setTimeZone(zone);
        QCOMPARE(parseDueDatetime(text), expected);
    }

    // MARK: Entries

    void tasksBecomeEntries_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::newRow("Berlin") << QByteArray("Europe/Berlin");
        QTest::newRow("New York") << QByteArray("America/New_York");
    }
    void tasksBecomeEntries() {
        QFETCH(QByteArray, zone);
        test::setTimeZone(zone);
        const QString today = QStringLiteral("2030-01-15");
        const QDate day(2030, 1, 15);
        const QList<TodoistProject> projects{project("work", std::nullopt, 1, "berry_red"),
                                             project("odd", std::nullopt, 2, "no_such_colour"),
                                             project("off", std::nullopt, 3)};
        const QList<TodoistTask> tasks{
            task("floating", "work", "2030-01-15T09:30:00", today),
            task("fixed", "work", "2030-01-15T09:30:00Z", today, TodoistDuration{45, "minute"}),
            task("two days", "odd", "2030-01-15T10:00:00", today, TodoistDuration{2, "day"}),
            task("other day", "work", "2030-01-16T09:30:00", "2030-01-16"),
            task("datetime today, date tomorrow", "work", "2030-01-15T09:30:00", "2030-01-16"),
            task("date today, instant yesterday", "lost", "2030-01-14T23:00:00Z", today),
            task("disabled", "off", "2030-01-15T09:30:00", today),
            task("no time", "work", std::nullopt, today),
            task("unreadable", "work", "soon", today),
            task("zero length", "work", "2030-01-15T11:00:00", today, TodoistDuration{0, "minute"}),
            task("backwards", "work", "2030-01-15T11:00:00", today, TodoistDuration{-30, "minute"}),
        };
        const TimeEntryList entries = todoistTimeEntries(tasks, projects, {QStringLiteral("off")}, today);

        QStringList entryIds;
        for (const TimeEntry &entry : entries)
            entryIds << entry.id();
        QCOMPARE(entryIds, (QStringList{"floating", "fixed", "two days", "date today, instant yesterday",
                                        "zero length", "backwards"}));

        const auto *floating = entries[0].as<TodoistEntry>();
        QVERIFY(floating);
        QCOMPARE(floating->startTime, QDateTime(day, QTime(9, 30), Qt::LocalTime).toUTC());
        QCOMPARE(floating->startTime.toLocalTime().time(), QTime(9, 30));
        QCOMPARE(floating->startTime.secsTo(*floating->endTime), 15 * 60);
        QCOMPARE(floating->label, QStringLiteral("Task floating"));
        QCOMPARE(floating->color, hexColor(u"#B8255F"));
        QCOMPARE(floating->groupName, QStringLiteral("Project work"));
        QCOMPARE(entries[0].sourceName(), QStringLiteral("Todoist"));

        QCOMPARE(entries[1].startTime(), utc(2030, 1, 15, 9, 30));
        QCOMPARE(entries[1].startTime().secsTo(*entries[1].endTime()), 45 * 60);
        QCOMPARE(entries[2].startTime().secsTo(*entries[2].endTime()), 2880 * 60);
        QCOMPARE(entries[2].color(), standardBlue());
        // A project that is not (yet) known: the table's blue, no group.
        QCOMPARE(entries[3].color(), hexColor(u"#4180FF"));
        QVERIFY(!entries[3].groupName());
        QCOMPARE(entries[3].startTime(), utc(2030, 1, 14, 23, 0));
        // Nothing ends before it starts.
        QCOMPARE(entries[4].startTime().secsTo(*entries[4].endTime()), 15 * 60);
        QCOMPARE(entries[5].startTime().secsTo(*entries[5].endTime()), 15 * 60);
    }

    void identicalTasksGiveTwoEntriesInTaskOrder() {
        const QString today = QStringLiteral("2030-01-15");
        const TodoistTask a = task("same", "p", "2030-01-15T08:00:00Z", today);
        const TodoistTask later = task("later", "p", "2030-01-15T07:00:00Z", today);
        const TimeEntryList entries = todoistTimeEntries({a, later, a}, {}, {}, today);
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries[0].id(), QStringLiteral("same"));
        QCOMPARE(entries[1].id(), QStringLiteral("later"));
        QCOMPARE(entries[2].id(), QStringLiteral("same"));
        QVERIFY(todoistTimeEntries({}, {project("p", std::nullopt, 0)}, {}, today).isEmpty());
    }

    void coloursByExactName() {
        QCOMPARE(todoistColor(QStringLiteral("berry_red")), hexColor(u"#B8255F"));
        QCOMPARE(todoistColor(QStringLiteral("taupe")), hexColor(u"#8F7A69"));
        QCOMPARE(todoistColor(QStringLiteral("blue")), hexColor(u"#4180FF"));
        QCOMPARE(todoistColor(QStringLiteral("Blue")), standardBlue());
        QCOMPARE(todoistColor(QString()), standardBlue());
        QVERIFY(todoistColor(QStringLiteral("blue")) != standardBlue());
    }

    // MARK: Project tree

    void buildsTheTreeInOrder() {
        const QList<TodoistProject> projects{
            project("A", std::nullopt, 2), project("B", std::nullopt, 1),
            project("A2", "A", 5),         project("A1", "A", 1),
            project("A1x", "A1", 0),       project("orphan", "gone", 0),
            project("C", std::nullopt, 1), project("orphan child", "orphan", 0),
        };
        const QList<ProjectNode> tree = buildProjectTree(projects);
        // Equal order keeps the server's order (B before C).
        QCOMPARE(ids(tree), (QStringList{"B", "C", "A"}));
        const ProjectNode &a = tree[2];
        QCOMPARE(a.depth, 0);
        QCOMPARE(ids(a.children), (QStringList{"A1", "A2"}));
        QCOMPARE(a.children[0].depth, 1);
        QCOMPARE(a.children[0].children[0].project.id, QStringLiteral("A1x"));
        QCOMPARE(a.children[0].children[0].depth, 2);
        QVERIFY(buildProjectTree({project("x", "y", 0)}).isEmpty());
    }

    void descendantsFollowListOrderDepthFirst() {
        const QList<TodoistProject> projects{project("root", std::nullopt, 0), project("z", "root", 0),
                                             project("a", "root", 9), project("z1", "z", 0),
                                             project("a1", "a", 0)};
        // List order, not sort order; pre-order.
        QCOMPARE(projectDescendantIds(projects, "root"), (QStringList{"z", "z1", "a", "a1"}));
        QCOMPARE(projectDescendantIds(projects, "a1"), QStringList());
        QCOMPARE(projectDescendantIds(projects, "unknown"), QStringList());
    }

    // Parent links that loop must not hang the settings pane.
    void loopsInParentLinksTerminate() {
        const QList<TodoistProject> projects{project("a", "b", 0), project("b", "a", 0),
                                             project("self", "self", 0), project("c", "a", 0)};
        QCOMPARE(projectDescendantIds(projects, "a"), (QStringList{"b", "c"}));
        QCOMPARE(projectDescendantIds(projects, "self"), QStringList());
        QVERIFY(buildProjectTree(projects).isEmpty());
        QCOMPARE(projectToggleStateOf(projects, {QStringLiteral("c")}, "a"), ToggleState::Some);
    }

    void toggleStates() {
        const QList<TodoistProject> projects{project("p", std::nullopt, 0), project("c1", "p", 0),
                                             project("c2", "p", 1), project("leaf", std::nullopt, 1)};
        QCOMPARE(projectToggleStateOf(projects, {}, "p"), ToggleState::All);
        QCOMPARE(projectToggleStateOf(projects, {"c1"}, "p"), ToggleState::Some);
        QCOMPARE(projectToggleStateOf(projects, {"p"}, "p"), ToggleState::Some);
        QCOMPARE(projectToggleStateOf(projects, {"p", "c1", "c2"}, "p"), ToggleState::None);
        QCOMPARE(projectToggleStateOf(projects, {"c1"}, "leaf"), ToggleState::All);
        QCOMPARE(projectToggleStateOf(projects, {"leaf"}, "leaf"), ToggleState::None);
    }
};

QTEST_GUILESS_MAIN(TodoistDecodingTest)
#include "test_todoist_decoding.moc"

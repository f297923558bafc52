#include "support/TestEnvironment.h"
#include "todoist/TodoistDecoding.h"
#include "todoist/TodoistEntries.h"

#include <QTest>

using namespace daybrook;

namespace {

QByteArray page(const QByteArray &results, const QByteArray &cursor = "null") {
    return R"({"results": [)" + results + R"(], "next_cursor": )" + cursor + "}";
}

// One task with the required keys and `more` after them.
QByteArray taskPage(const QByteArray &more = {}) {
    return page(R"({"id": "1", "project_id": "p", "content": "c")" + more + "}");
}

// Realistic and tricky task JSON, escapes and all.
QByteArray trickyTaskPage() {
    return "\xEF\xBB\xBF" +
           page(R"({"id": "6cQ9vS8kTn2Wq4Lm", "project_id": "6cQ9", "content": "Call \u260E\uFE0F",
        "due": {"date": "2030-01-15T11:00:00", "timezone": null, "string": "11", "is_recurring": false},
        "duration": {"amount": 45, "unit": "minute"}, "labels": ["a", 2], "deadline": {"date": 5}, "n": 1E+400,
        "goal_ids": [[]], "deep": [[[{"k": [1, -0, 2.5e-3, true, null, "\u0000"]}]]]},
      {"id": "2", "project_id": "p", "content": "No dates", "due": null, "duration": null},
      {"\u0069d": "first", "id": "x\"y\\z\/", "project_id": "p", "content": "a\nb\t\ud83d\ude00 é",
        "due": {"date": "2030-01-15", "date": "2030-01-16"}, "duration": {"amount": 2.0, "unit": "day"}},
      {"id": "﻿1", "project_id": "p", "content": "a\n﻿﻿b"})",
                "\"next+cursor/=\"") +
           " \n";
}

QDateTime utc(int y, int mo, int d, int h, int mi, int s = 0, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

TodoistTask task(const QString &id, const QString &projectId, std::optional<QString> datetime,
                 const QString &date, std::optional<TodoistDuration> duration = {}) {
    return {id, "Task " + id, projectId, TodoistDue{date, std::move(datetime), {}}, std::move(duration)};
}

TodoistProject project(const QString &id, std::optional<QString> parent, qint64 order,
                       const QString &color = "blue") {
    return TodoistProject{id, QStringLiteral("Project ") + id, color, std::move(parent), order};
}

// Each node as id and depth, its children in brackets.
QString outline(const QList<ProjectNode> &nodes) {
    QStringList parts;
    for (const ProjectNode &node : nodes)
        parts << node.project.id + QLatin1Char(':') + QString::number(node.depth) +
                     (node.children.isEmpty() ? QString() : '(' + outline(node.children) + ')');
    return parts.join(' ');
}

} // namespace

class TodoistDecodingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { test::setTimeZone("UTC"); }

    // Realistic replies, unknown keys of every shape, and JSON read exactly
    // (escapes, duplicate keys, byte-order marks, surrogate pairs).
    void decodesWhatTheServerSends() {
        const auto tasks = decodeTaskPage(trickyTaskPage());
        QVERIFY2(tasks, qPrintable(tasks.error));
        QStringList got;
        for (const TodoistTask &k : tasks.value->results)
            got << QStringList{k.id, k.content, k.due ? k.due->date : "-",
                               k.due ? k.due->datetime.value_or("-") : "-",
                               k.duration ? QString::number(k.duration->amount) : "-"}
                       .join('|');
        // The last of two equal keys wins, escaped or not.
        QCOMPARE(got, (QStringList{"6cQ9vS8kTn2Wq4Lm|Call \u260E\uFE0F|2030-01-15|2030-01-15T11:00:00|45",
                                   "2|No dates|-|-|-", "x\"y\\z/|a\nb\t\U0001F600 \u00E9|2030-01-16|-|2",
                                   QStringLiteral("\uFEFF1|a\n\uFEFF\uFEFFb|-|-|-")}));
        QCOMPARE(tasks.value->nextCursor, QStringLiteral("next+cursor/="));
        for (const QByteArray &end : {QByteArray("null"), QByteArray("\"\"")})
            QVERIFY(!decodeTaskPage(page("", end)).value->nextCursor);
        QVERIFY(!decodeTaskPage(R"({"results": []})").value->nextCursor);
        QVERIFY(decodeTaskPage(taskPage(R"(, "x": )" + QByteArray(500, '[') + QByteArray(500, ']'))));

        const auto projects = decodeProjectPage(page(R"({"id": "a", "name": "Work", "color": "blue",
            "parent_id": null, "child_order": 2, "inbox_project": true},
            {"id": "b", "name": "Sub", "color": "grey", "parent_id": "a", "child_order": 1})"));
        QVERIFY(projects && !projects.value->results[0].parentId && projects.value->results[0].order == 2);
        QCOMPARE(projects.value->results[1].parentId, QStringLiteral("a"));

        // Token replies, an empty refresh token among them, are read end to end by the service test.

        // A good registration is read end to end by the sign-in test.
        const auto error =
            decodeOAuthError(R"({"error": "invalid_grant", "error_description": "  Expired  "})");
        QCOMPARE(error->description, QStringLiteral("Expired"));
        QVERIFY(!decodeOAuthError("{\"error\": \"\"}") && !decodeOAuthError("<html>"));
    }

    // A body that is not exactly what it must be fails whole: no partial list
    // reaches the bar, no half-read sign-in is kept.
    void refusesBadBodies_data() {
        QTest::addColumn<char>("kind"); // t(asks), p(rojects), o(auth token), r(egistration)
        QTest::addColumn<QByteArrayList>("bodies");
        const QByteArray good = R"({"id": "ok", "project_id": "p", "content": "fine"})";
        const auto with = [](const char *more) { return taskPage(more); };
        // clang-format off
        QTest::newRow("task fields") << 't' << QByteArrayList{
            page(good + R"(, {"id": "2", "content": "c"})"), with(R"(, "due": {})"),
            page(R"({"id": 1, "project_id": "p", "content": "c"})"),
            page(R"({"id": null, "project_id": "p", "content": "c"})"),
            with(R"(, "due": {"date": 20300115})"), with(R"(, "due": "2030-01-15")"),
            with(R"(, "due": {"date": "2030-01-15", "timezone": 1})"), with(R"(, "duration": {"amount": 30})"),
            with(R"(, "duration": {"amount": 1.5, "unit": "day"})"),
            with(R"(, "duration": {"amount": "30", "unit": "day"})")};
        QTest::newRow("page shape") << 't' << QByteArrayList{
            page(good + ", 7"), R"({"next_cursor": null})", R"({"results": {}})", page(good, "12"),
            "[" + good + "]", R"({"error": "Unauthorized", "http_code": 401})", "<html>500</html>",
            page(good).left(30), ""};
        QTest::newRow("JSON syntax") << 't' << QByteArrayList{
            taskPage() + "x", taskPage() + "{}", taskPage() + QByteArray(1, '\0'), with(R"(, "n": 01)"),
            with(", \"x\": \"tab\there\""), with(R"(, "x": "bad \q")"), with(R"(, "x": "\u12")"),
            with(", \"x\": \"\xC3\""), with(", \"x\": \"\xED\xA0\x80\""), with(R"(, "n": .5)"), with(","),
            with(R"(, "x": [1,])"), with(R"(, "x": nul)"),
            taskPage(", \"x\": " + QByteArray(100000, '[') + QByteArray(100000, ']'))};
        QTest::newRow("projects") << 'p' << QByteArrayList{
            page(R"({"id": "a", "name": "W", "color": "blue", "order": 2})"),
            page(R"({"id": "a", "name": "W", "color": "b", "child_order": 2.5})"),
            page(R"({"id": "a", "name": "W", "color": "b", "child_order": 1, "parent_id": 7})"),
            page(R"({"id": "a", "name": "W", "child_order": 1})")};
        QTest::newRow("tokens") << 'o' << QByteArrayList{
            R"({"access_token": "a"})", "{\"access_token\": \"\", \"token_type\": \"Bearer\"}",
            R"({"access_token": "a", "token_type": "Bearer", "expires_in": "3600"})",
            R"({"error": "bad_code"})", R"(["access_token"])"};
        QTest::newRow("registrations") << 'r' << QByteArrayList{
            R"({"error": "invalid_redirect_uri"})", R"({"client_id": 7})", "{\"client_id\": \"\"}",
            R"({"client_id": "a b"})", R"({"client_id": "a\nb"})",
            "{\"client_id\": \"" + QByteArray(513, 'a') + "\"}",
            R"({"client_id": "a", "redirect_uris": [1]})", R"({"client_id": "a", "redirect_uris": "x"})"};
        // clang-format on
    }
    void refusesBadBodies() {
        QFETCH(char, kind);
        QFETCH(QByteArrayList, bodies);
        for (const QByteArray &body : bodies) {
            const QString error = kind == 't'   ? decodeTaskPage(body).error
                                  : kind == 'p' ? decodeProjectPage(body).error
                                  : kind == 'o' ? decodeTokenResponse(body).error
                                                : decodeClientRegistration(body).error;
            QVERIFY2(!error.isEmpty(), body.left(120).constData());
        }
    }

    // A fixed instant is the same in every zone (zone empty: tried in two), and
    // its day is the local day of the instant; a floating time is on the local
    // clock and keeps its written day.
    void parsesDueDatetimes_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDateTime>("expected"); // null: refused
        QTest::addColumn<QString>("day");        // of the task due then; empty: not checked
        const QByteArray any, berlin("Europe/Berlin"), newYork("America/New_York");
        const auto row = [](const char *tag, const char *text, const QByteArray &zone, const QDateTime &at,
                            const char *day = "") {
            QTest::newRow(tag) << QString(text) << zone << at << QString(day);
        };
        row("Z", "2030-01-15T09:30:00Z", any, utc(2030, 1, 15, 9, 30));
        row("+05:30", "2030-01-15T09:30:00+05:30", any, utc(2030, 1, 15, 4, 0));
        row("-03:00", "2030-01-15T09:30:00-03:00", any, utc(2030, 1, 15, 12, 30));
        row("one digit", "2030-01-15T09:30:00.5Z", any, utc(2030, 1, 15, 9, 30, 0, 500));
        row("9 digits", "2030-01-15T09:30:59.999999999Z", any, utc(2030, 1, 15, 9, 30, 59, 999));
        row("late, Berlin", "2030-01-15T23:30:00Z", berlin, utc(2030, 1, 15, 23, 30), "2030-01-16");
        row("late, NY", "2030-01-15T23:30:00Z", newYork, utc(2030, 1, 15, 23, 30), "2030-01-15");
        row("early, NY", "2030-01-16T03:00:00.000Z", newYork, utc(2030, 1, 16, 3, 0), "2030-01-15");
        row("Berlin winter", "2030-01-15T09:30:00", berlin, utc(2030, 1, 15, 8, 30), "2030-01-15");
        row("Berlin summer", "2030-07-15T09:30:00", berlin, utc(2030, 7, 15, 7, 30), "2030-07-15");
        row("floating, NY", "2030-01-16T03:00:00.25", newYork, utc(2030, 1, 16, 8, 0, 0, 250), "2030-01-16");
        row("unreadable", "2030-01-15T25:00:00Z", berlin, QDateTime(), "2030-01-15");
        for (const char *bad :
             {"2030-01-15T09:30:00.0000000000Z", "2030-01-15T09:30:00.Z", "2030-01-15T09:30Z",
              "2030-01-15T09:30:00+0100", "2030-01-15T09:30:00+24:00", "2030-02-30T09:30:00Z",
              "2030-01-15T24:00:00Z", "2030-01-15T09:30:60Z", "2030-01-15 09:30:00Z", "2030-01-15T09:30:00Zx",
              "2030-01-15", "2030-01-15T09:3+:00Z", "2030-01-15T0\u0669:30:00Z", ""})
            row(bad, bad, any, QDateTime());
    }
    void parsesDueDatetimes() {
        QFETCH(QString, text);
        QFETCH(QByteArray, zone);
        QFETCH(QDateTime, expected);
        QFETCH(QString, day);
        for (const QByteArray &z :
             zone.isEmpty() ? QByteArrayList{"Europe/Berlin", "America/New_York"} : QByteArrayList{zone}) {
            test::setTimeZone(z);
            QCOMPARE(parseDueDatetime(text), expected.isValid() ? std::optional(expected) : std::nullopt);
        }
        if (day.isEmpty())
            return;
        const auto decoded = decodeTaskPage(taskPage(R"(, "due": {"date": ")" + text.toUtf8() + R"("})"));
        QVERIFY2(decoded, qPrintable(decoded.error));
        QCOMPARE(decoded.value->results[0].due->date, day);
        QCOMPARE(decoded.value->results[0].due->datetime, text);
    }

    void tasksBecomeEntries() {
        const QString today = QStringLiteral("2030-01-15");
        const QList<TodoistProject> projects{project("work", std::nullopt, 1, "berry_red"),
                                             project("odd", std::nullopt, 2, "no_such_colour")};
        const TodoistTask twice = task("twice", "work", "2030-01-15T08:00:00Z", today);
        const QList<TodoistTask> tasks{
            task("floating", "work", "2030-01-15T09:30:00", today),
            task("fixed", "work", "2030-01-15T09:30:00Z", today, TodoistDuration{45, "minute"}),
            task("two days", "odd", "2030-01-15T10:00:00", today, TodoistDuration{2, "day"}),
            task("other day", "work", "2030-01-16T09:30:00", "2030-01-16"),
            task("no time", "work", {}, today),
            task("datetime today, date tomorrow", "work", "2030-01-15T09:30:00", "2030-01-16"),
            task("date today, instant yesterday", "lost", "2030-01-14T23:00:00Z", today),
            task("disabled", "off", "2030-01-15T09:30:00", today),
            task("unreadable", "work", "soon", today),
            task("zero length", "work", "2030-01-15T11:00:00", today, TodoistDuration{0, "minute"}),
            task("backwards", "work", "2030-01-15T11:00:00", today, TodoistDuration{-30, "minute"}),
            twice,
            twice};
        for (const char *zone : {"Europe/Berlin", "America/New_York"}) {
            test::setTimeZone(zone);
            const TimeEntryList entries = todoistTimeEntries(tasks, projects, {QStringLiteral("off")}, today);
            QStringList got;
            for (const TimeEntry &entry : entries)
                got << entry.id() + ' ' + QString::number(entry.startTime().secsTo(*entry.endTime()) / 60.0);
            // Task order is kept, and identical tasks stay two entries. Nothing
            // ends before it starts; without a duration a task lasts 15 minutes.
            QCOMPARE(got, (QStringList{"floating 15", "fixed 45", "two days 2880",
                                       "date today, instant yesterday 15", "zero length 15", "backwards 15",
                                       "twice 15", "twice 15"}));
            QCOMPARE(entries[0].startTime(),
                     QDateTime(QDate(2030, 1, 15), QTime(9, 30), Qt::LocalTime).toUTC());
            QCOMPARE(entries[1].startTime(), utc(2030, 1, 15, 9, 30));
            QCOMPARE(entries[0].color(), hexColor(u"#B8255F"));
            QCOMPARE(entries[0].groupName(), QStringLiteral("Project work"));
            QCOMPARE(entries[2].color(), standardBlue());
            // A project that is not (yet) known: the table's blue, no group.
            QCOMPARE(entries[3].color(), hexColor(u"#4180FF"));
            QVERIFY(!entries[3].groupName());
        }
        // Colour names match exactly.
        QCOMPARE(todoistColor(QStringLiteral("taupe")), hexColor(u"#8F7A69"));
        QCOMPARE(todoistColor(QStringLiteral("Blue")), standardBlue());
    }

    void projectTreesAndToggleStates() {
        const QList<TodoistProject> projects{
            project("A", std::nullopt, 2), project("B", std::nullopt, 1), project("A2", "A", 5),
            project("A1", "A", 1),         project("A1x", "A1", 0),       project("orphan", "gone", 0),
            project("C", std::nullopt, 1), project("A0", "A", 9),
        };
        const QList<ProjectNode> tree = buildProjectTree(projects);
        // Equal order keeps the server's order (B before C); orphans are shown nowhere.
        QCOMPARE(outline(tree), QStringLiteral("B:0 C:0 A:0(A1:1(A1x:2) A2:1 A0:1)"));
        // Descendants in list order, not sort order, depth first.
        QCOMPARE(projectDescendantIds(projects, "A"), (QStringList{"A2", "A1", "A1x", "A0"}));
        QCOMPARE(projectToggleStateOf(projects, {}, "A"), ToggleState::All);
        QCOMPARE(projectToggleStateOf(projects, {"A1x"}, "A"), ToggleState::Some);
        QCOMPARE(projectToggleStateOf(projects, {"A"}, "A"), ToggleState::Some);
        QCOMPARE(projectToggleStateOf(projects, {"A", "A0", "A1", "A1x", "A2"}, "A"), ToggleState::None);
        QCOMPARE(projectToggleStateOf(projects, {"A1"}, "B"), ToggleState::All);
        QCOMPARE(projectToggleStateOf(projects, {"B"}, "B"), ToggleState::None);
        // Parent links that loop must not hang the settings pane.
        const QList<TodoistProject> loop{project("a", "b", 0), project("b", "a", 0),
                                         project("self", "self", 0), project("c", "a", 0)};
        QCOMPARE(projectDescendantIds(loop, "a"), (QStringList{"b", "c"}));
        QCOMPARE(projectDescendantIds(loop, "self"), QStringList());
        QVERIFY(buildProjectTree(loop).isEmpty());
        QCOMPARE(projectToggleStateOf(loop, {QStringLiteral("c")}, "a"), ToggleState::Some);
    }
};

QTEST_GUILESS_MAIN(TodoistDecodingTest)
#include "test_todoist_decoding.moc"

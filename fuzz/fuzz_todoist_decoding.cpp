// Feeds arbitrary bytes to the Todoist decoders (lists, tokens, client
// registrations) and the due-time parser. The
// first byte picks the target; the rest is the input. Besides crashes and
// undefined behaviour it checks a few properties that must always hold.
#include "ReferenceDecoding.h"
#include "todoist/TodoistDecoding.h"

#include <cstdio>

#include <QSet>
#include <cstdint>
#include <cstdlib>

using namespace daybrook;

namespace {

void check(bool condition, const char *what = "property") {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

bool sameDue(const std::optional<TodoistDue> &a, const std::optional<TodoistDue> &b) {
    if (a.has_value() != b.has_value())
        return false;
    return !a || (a->date == b->date && a->datetime == b->datetime && a->timezone == b->timezone);
}

bool sameDuration(const std::optional<TodoistDuration> &a, const std::optional<TodoistDuration> &b) {
    if (a.has_value() != b.has_value())
        return false;
    return !a || (a->amount == b->amount && a->unit == b->unit);
}

bool sameTask(const TodoistTask &a, const TodoistTask &b) {
    return a.id == b.id && a.content == b.content && a.projectId == b.projectId && sameDue(a.due, b.due) &&
           sameDuration(a.duration, b.duration);
}

bool sameProject(const TodoistProject &a, const TodoistProject &b) {
    return a.id == b.id && a.name == b.name && a.color == b.color && a.parentId == b.parentId &&
           a.order == b.order;
}

// The scanner and the QJsonDocument reading must agree on every input: both
// refuse it, or both give the same records.
void dump(const TodoistTask &task) {
    std::fprintf(stderr, "task %s | %s | %s | %s\n", task.id.toUtf8().toHex().constData(),
                 task.content.toUtf8().toHex().constData(), task.projectId.toUtf8().constData(),
                 task.due ? task.due->date.toUtf8().constData() : "-");
}

void dump(const TodoistProject &project) {
    std::fprintf(stderr, "project %s | %s\n", project.id.toUtf8().toHex().constData(),
                 project.name.toUtf8().toHex().constData());
}

// The scanner is stricter than QJsonDocument on purpose (Qt takes raw control
// characters in strings, unknown escapes such as "\0", numbers such as ".5"):
// it may refuse for syntax what Qt takes, never the other way round. Only
// numbers beyond the range of a double in keys we skip are taken by the
// scanner and refused by Qt.
bool syntaxRefusal(const QString &error) {
    return error.startsWith(QLatin1String("invalid JSON")) ||
           error.startsWith(QLatin1String("invalid UTF-8"));
}

template <typename Page, typename Same>
void compare(const QByteArray &body, const Page &ours, const Page &theirs, Same same) {
    if (!ours && theirs && syntaxRefusal(ours.error))
        return;
    if (ours && !theirs && theirs.error.endsWith(QLatin1String("illegal number")))
        return;
    if (ours.value.has_value() != theirs.value.has_value()) {
        std::fprintf(stderr, "ours: %s\ntheirs: %s\n", qPrintable(ours.error), qPrintable(theirs.error));
        check(false, "scanner and QJsonDocument disagree on validity");
    }
    if (!ours)
        return;
    // QJsonValue::toString() drops a U+FEFF that begins a string; the scanner
    // keeps it. Texts with that character are compared for validity only.
    if (body.indexOf("\xEF\xBB\xBF", 1) >= 0)
        return;
    check(ours.value->nextCursor == theirs.value->nextCursor, "cursor differs");
    check(ours.value->results.size() == theirs.value->results.size(), "result count differs");
    for (qsizetype i = 0; i < ours.value->results.size(); ++i) {
        if (!same(ours.value->results[i], theirs.value->results[i])) {
            std::fprintf(stderr, "record %lld differs\n", static_cast<long long>(i));
            dump(ours.value->results[i]);
            dump(theirs.value->results[i]);
            check(false, "record differs");
        }
    }
}

void checkTasks(const QByteArray &body) {
    const auto page = decodeTaskPage(body);
    check(page.value.has_value() == page.error.isEmpty());
    compare(body, page, reference::decodeTaskPage(body), sameTask);
    if (!page)
        return;
    if (page.value->nextCursor)
        check(!page.value->nextCursor->isEmpty());
    for (const TodoistTask &task : page.value->results) {
        if (!task.due)
            continue;
        // A time makes a datetime; the day is then ten characters at most.
        if (task.due->datetime)
            check(task.due->date.size() <= 10);
        else
            check(!task.due->date.contains(QLatin1Char('T')));
    }
}

void checkProjects(const QByteArray &body) {
    const auto page = decodeProjectPage(body);
    check(page.value.has_value() == page.error.isEmpty());
    compare(body, page, reference::decodeProjectPage(body), sameProject);
}

void checkToken(const QByteArray &body) {
    const auto token = decodeTokenResponse(body);
    check(token.value.has_value() == token.error.isEmpty());
    if (token)
        check(!token.value->accessToken.isEmpty());
}

// A registration's client id goes into URLs and the settings file.
void checkRegistration(const QByteArray &body) {
    const auto registration = decodeClientRegistration(body);
    check(registration.value.has_value() == registration.error.isEmpty());
    if (!registration)
        return;
    const QString &id = registration.value->clientId;
    check(!id.isEmpty() && id.size() <= 512, "client id length");
    for (const QChar c : id)
        check(c.isPrint() && !c.isSpace(), "client id character");
    if (const auto error = decodeOAuthError(body))
        check(!error->error.isEmpty(), "error code");
}

void checkDatetime(const QByteArray &bytes) {
    const QString text = QString::fromUtf8(bytes);
    const auto instant = parseDueDatetime(text);
    if (!instant)
        return;
    check(instant->isValid());
    check(instant->timeSpec() == Qt::UTC);
    // A whole-second UTC time reads back as the same text.
    if (text.size() == 20 && text.endsWith(QLatin1Char('Z')) && instant->date().year() >= 1000)
        check(instant->toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")) == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    switch (data[0] % 5) {
    case 0:
        checkTasks(input);
        break;
    case 1:
        checkProjects(input);
        break;
    case 2:
        checkToken(input);
        break;
    case 4:
        checkRegistration(input);
        break;
    default:
        checkDatetime(input);
        break;
    }
    return 0;
}

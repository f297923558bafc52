// Feeds arbitrary bytes to the Todoist decoders and the due-time parser. The
// first byte picks the target; the rest is the input. Besides crashes and
// undefined behaviour it checks a few properties that must always hold.
#include "todoist/TodoistDecoding.h"

#include <QSet>
#include <cstdint>
#include <cstdlib>

using namespace daybrook;

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

void checkTasks(const QByteArray &body) {
    const auto page = decodeTaskPage(body);
    check(page.value.has_value() == page.error.isEmpty());
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
}

void checkToken(const QByteArray &body) {
    const auto token = decodeTokenResponse(body);
    check(token.value.has_value() == token.error.isEmpty());
    if (token)
        check(!token.value->accessToken.isEmpty());
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
    switch (data[0] % 4) {
    case 0:
        checkTasks(input);
        break;
    case 1:
        checkProjects(input);
        break;
    case 2:
        checkToken(input);
        break;
    default:
        checkDatetime(input);
        break;
    }
    return 0;
}

#include "core/TimeEntry.h"

namespace daybrook {

namespace {
// The combined kind reads each property from one side; the two plain kinds
// have identical fields.
template <typename Getter> decltype(auto) visitEntry(const auto &value, Getter &&plain, auto &&combined) {
    if (const auto *c = std::get_if<CombinedEntry>(&value))
        return combined(*c);
    if (const auto *cal = std::get_if<CalendarEntry>(&value))
        return plain(*cal);
    return plain(std::get<TodoistEntry>(value));
}
} // namespace

const QString &TimeEntry::id() const {
    return visitEntry(
        m_value, [](const auto &e) -> const QString & { return e.id; },
        [](const CombinedEntry &c) -> const QString & { return c.todoistEntry.id; });
}

const QDateTime &TimeEntry::startTime() const {
    return visitEntry(
        m_value, [](const auto &e) -> const QDateTime & { return e.startTime; },
        [](const CombinedEntry &c) -> const QDateTime & { return c.calendarEntry.startTime; });
}

const std::optional<QDateTime> &TimeEntry::endTime() const {
    return visitEntry(
        m_value, [](const auto &e) -> const std::optional<QDateTime> & { return e.endTime; },
        [](const CombinedEntry &c) -> const std::optional<QDateTime> & { return c.calendarEntry.endTime; });
}

const QString &TimeEntry::label() const {
    return visitEntry(
        m_value, [](const auto &e) -> const QString & { return e.label; },
        [](const CombinedEntry &c) -> const QString & { return c.calendarEntry.label; });
}

const Color &TimeEntry::color() const {
    return visitEntry(
        m_value, [](const auto &e) -> const Color & { return e.color; },
        [](const CombinedEntry &c) -> const Color & { return c.todoistEntry.color; });
}

QString TimeEntry::sourceName() const {
    return std::visit([](const auto &e) { return std::decay_t<decltype(e)>::sourceName(); }, m_value);
}

const std::optional<QString> &TimeEntry::groupName() const {
    return visitEntry(
        m_value, [](const auto &e) -> const std::optional<QString> & { return e.groupName; },
        [](const CombinedEntry &c) -> const std::optional<QString> & { return c.todoistEntry.groupName; });
}

} // namespace daybrook

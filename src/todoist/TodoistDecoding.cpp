#include "todoist/TodoistDecoding.h"

#include "todoist/JsonObjectReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QTimeZone>
#include <QVarLengthArray>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace daybrook {

namespace {

bool isDigit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}

// Reads `count` decimal digits at `pos`; -1 when any is not a digit.
int digits(QStringView text, qsizetype pos, int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const QChar c = text[pos + i];
        if (!isDigit(c))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

// MARK: Pages
//
// Lists are read by a small strict JSON scanner rather than through a
// QJsonDocument: a large account's task list is megabytes of keys we ignore,
// and building a document tree for them costs more than the whole rest of the
// refresh. The scanner accepts exactly RFC 8259 JSON (valid UTF-8, no control
// characters in strings, nothing after the value, nesting at most 1024 deep),
// skips unknown values after checking them, and like QJsonDocument lets the
// last of two equal keys win.

constexpr int maxNesting = 1024;

// Checked UTF-8 to text. QString::fromUtf8 drops a byte order mark at the start
// of its input, which would lose a U+FEFF that begins a string (or follows an
// escape), so those are taken over by hand.
QString utf8Text(const char *begin, const char *end) {
    QString text;
    while (end - begin >= 3 && std::memcmp(begin, "\xEF\xBB\xBF", 3) == 0) {
        text += QChar(0xFEFF);
        begin += 3;
    }
    if (text.isEmpty())
        return QString::fromUtf8(begin, end - begin);
    return text + QString::fromUtf8(begin, end - begin);
}

struct Span {
    const char *begin = nullptr;
    const char *end = nullptr;
};

class Scanner {
public:
    Scanner(const char *begin, const char *end) : m_p(begin), m_end(end) {}

    const char *position() const { return m_p; }
    void seek(const char *p) { m_p = p; }
    const QString &error() const { return m_error; }

    bool fail(const QString &error) {
        if (m_error.isEmpty())
            m_error = error;
        return false;
    }
    bool syntaxError() { return fail(QStringLiteral("invalid JSON at offset %1").arg(m_p - m_begin)); }
    void setBegin(const char *begin) { m_begin = begin; }

    void skipWhitespace() {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }
    bool atEnd() {
        skipWhitespace();
        return m_p == m_end;
    }
    char peek() {
        skipWhitespace();
        return m_p < m_end ? *m_p : '\0';
    }
    bool consume(char c) {
        if (peek() != c)
            return false;
        ++m_p;
        return true;
    }

    bool isNull() {
        skipWhitespace();
        return m_end - m_p >= 4 && std::memcmp(m_p, "null", 4) == 0;
    }

    // A string at the current position: its raw contents (between the quotes)
    // and whether it has escapes. Checks escapes and UTF-8 on the way.
    bool scanString(Span &raw, bool &escaped) {
        if (!consume('"'))
            return syntaxError();
        raw.begin = m_p;
        escaped = false;
        while (m_p < m_end) {
            const auto c = static_cast<unsigned char>(*m_p);
            if (c == '"') {
                raw.end = m_p++;
                return true;
            }
            if (c < 0x20)
                return syntaxError();
            if (c == '\\') {
                escaped = true;
                if (++m_p == m_end)
                    return syntaxError();
                switch (*m_p) {
                case '"':
                case '\\':
                case '/':
                case 'b':
                case 'f':
                case 'n':
                case 'r':
                case 't':
                    ++m_p;
                    break;
                case 'u':
                    if (m_end - m_p < 5 || !isHex(m_p[1]) || !isHex(m_p[2]) || !isHex(m_p[3]) ||
                        !isHex(m_p[4]))
                        return syntaxError();
                    m_p += 5;
                    break;
                default:
                    return syntaxError();
                }
                continue;
            }
            if (c < 0x80) {
                ++m_p;
                continue;
            }
            const int length = utf8Length(m_p, m_end);
            if (length == 0)
                return fail(QStringLiteral("invalid UTF-8 at offset %1").arg(m_p - m_begin));
            m_p += length;
        }
        return syntaxError();
    }

    bool readString(QString &out) {
        Span raw;
        bool escaped = false;
        if (!scanString(raw, escaped))
            return false;
        out = decodeString(raw, escaped);
        return true;
    }

    // A number: its text, checked against the JSON grammar.
    bool scanNumber(Span &text) {
        skipWhitespace();
        text.begin = m_p;
        if (m_p < m_end && *m_p == '-')
            ++m_p;
        if (m_p == m_end || !isDigitByte(*m_p))
            return syntaxError();
        if (*m_p == '0')
            ++m_p;
        else
            while (m_p < m_end && isDigitByte(*m_p))
                ++m_p;
        if (m_p < m_end && *m_p == '.') {
            ++m_p;
            if (m_p == m_end || !isDigitByte(*m_p))
                return syntaxError();
            while (m_p < m_end && isDigitByte(*m_p))
                ++m_p;
        }
        if (m_p < m_end && (*m_p == 'e' || *m_p == 'E')) {
            ++m_p;
            if (m_p < m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            if (m_p == m_end || !isDigitByte(*m_p))
                return syntaxError();
            while (m_p < m_end && isDigitByte(*m_p))
                ++m_p;
        }
        text.end = m_p;
        return true;
    }

    // Steps over one value of any kind, checking it. Containers are walked
    // with an explicit stack, so deep nesting cannot exhaust the call stack.
    bool skipValue(int depth) {
        QVarLengthArray<char, 32> closers;
        for (;;) {
            // At the start of a value.
            const char c = peek();
            if (c == '{' || c == '[') {
                if (depth + closers.size() >= maxNesting)
                    return fail(QStringLiteral("JSON nested too deeply"));
                ++m_p;
                closers.append(c == '{' ? '}' : ']');
                if (consume(closers.back())) {
                    closers.removeLast();
                } else {
                    if (c == '{' && !memberKey())
                        return false;
                    continue;
                }
            } else if (c == '"') {
                Span raw;
                bool escaped = false;
                if (!scanString(raw, escaped))
                    return false;
            } else if (c == '-' || isDigitByte(c)) {
                Span text;
                if (!scanNumber(text))
                    return false;
            } else if (!literal("true") && !literal("false") && !literal("null")) {
                return syntaxError();
            }
            // After a value: close containers or move to the next element.
            for (;;) {
                if (closers.isEmpty())
                    return true;
                if (consume(',')) {
                    if (closers.back() == '}' && !memberKey())
                        return false;
                    break;
                }
                if (!consume(closers.back()))
                    return syntaxError();
                closers.removeLast();
            }
        }
    }

    // Walks the members of an object, calling `member(key, valueStart)` for
    // each; the value is skipped (and checked) afterwards.
    template <typename Member> bool forEachMember(int depth, Member member) {
        if (depth >= maxNesting)
            return fail(QStringLiteral("JSON nested too deeply"));
        if (!consume('{'))
            return syntaxError();
        if (consume('}'))
            return true;
        for (;;) {
            Span raw;
            bool escaped = false;
            if (!scanString(raw, escaped))
                return false;
            if (!consume(':'))
                return syntaxError();
            skipWhitespace();
            member(escaped ? decodeString(raw, true) : QString(), raw, m_p);
            if (!skipValue(depth + 1))
                return false;
            if (consume('}'))
                return true;
            if (!consume(','))
                return syntaxError();
        }
    }

    bool literal(const char *word) {
        const auto length = qsizetype(std::strlen(word));
        if (m_end - m_p < length || std::memcmp(m_p, word, size_t(length)) != 0)
            return false;
        m_p += length;
        return true;
    }

private:
    bool memberKey() {
        Span raw;
        bool escaped = false;
        return scanString(raw, escaped) && (consume(':') || syntaxError());
    }

    static bool isDigitByte(char c) { return c >= '0' && c <= '9'; }
    static bool isHex(char c) { return isDigitByte(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
    static int hexValue(char c) {
        return isDigitByte(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : c - 'A' + 10;
    }

    // Length of the UTF-8 sequence at p, 0 if it is not well-formed (overlong
    // forms, surrogates and code points above U+10FFFF are not).
    static int utf8Length(const char *p, const char *end) {
        const auto b = [&](int i) { return static_cast<unsigned char>(p[i]); };
        const auto in = [](unsigned char c, unsigned char lo, unsigned char hi) {
            return c >= lo && c <= hi;
        };
        const qsizetype left = end - p;
        const unsigned char c = b(0);
        if (c >= 0xC2 && c <= 0xDF)
            return left >= 2 && in(b(1), 0x80, 0xBF) ? 2 : 0;
        if (c >= 0xE0 && c <= 0xEF) {
            if (left < 3)
                return 0;
            const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
            return in(b(1), lo, hi) && in(b(2), 0x80, 0xBF) ? 3 : 0;
        }
        if (c >= 0xF0 && c <= 0xF4) {
            if (left < 4)
                return 0;
            const unsigned char lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
            return in(b(1), lo, hi) && in(b(2), 0x80, 0xBF) && in(b(3), 0x80, 0xBF) ? 4 : 0;
        }
        return 0;
    }

public:
    // The text of a checked string's contents.
    static QString decodeString(Span raw, bool escaped) {
        if (!escaped)
            return utf8Text(raw.begin, raw.end);
        QString out;
        out.reserve(raw.end - raw.begin);
        const char *p = raw.begin;
        while (p < raw.end) {
            const char *run = p;
            while (p < raw.end && *p != '\\')
                ++p;
            if (p > run)
                out += utf8Text(run, p);
            if (p == raw.end)
                break;
            ++p; // the backslash
            const char e = *p++;
            switch (e) {
            case 'b':
                out += QChar(u'\b');
                break;
            case 'f':
                out += QChar(u'\f');
                break;
            case 'n':
                out += QChar(u'\n');
                break;
            case 'r':
                out += QChar(u'\r');
                break;
            case 't':
                out += QChar(u'\t');
                break;
            case 'u': {
                const char16_t unit = char16_t(hexValue(p[0]) << 12 | hexValue(p[1]) << 8 |
                                               hexValue(p[2]) << 4 | hexValue(p[3]));
                out += QChar(unit);
                p += 4;
                break;
            }
            default:
                out += QLatin1Char(e);
                break; // '"', '\\', '/'
            }
        }
        return out;
    }

private:
    const char *m_begin = nullptr;
    const char *m_p;
    const char *m_end;
    QString m_error;
};

// The last occurrence of each wanted key of one object, by index into `names`.
template <qsizetype N> struct WantedKeys {
    const std::array<QLatin1StringView, N> &names;
    std::array<const char *, N> values{};
    const char *after = nullptr; // just past the object

    bool collect(Scanner &scanner, int depth) {
        return collectMembers(scanner, depth) && (after = scanner.position());
    }

private:
    bool collectMembers(Scanner &scanner, int depth) {
        return scanner.forEachMember(depth, [this](const QString &decodedKey, Span raw, const char *value) {
            for (qsizetype i = 0; i < N; ++i) {
                const bool match = decodedKey.isNull()
                                       ? QLatin1StringView(raw.begin, raw.end - raw.begin) == names[i]
                                       : decodedKey == names[i];
                if (match)
                    values[i] = value;
            }
        });
    }
};

// Reads typed values of an object's wanted keys; failures read "key reason".
class ValueReader {
public:
    ValueReader(Scanner &scanner, QString &error) : m_scanner(scanner), m_error(error) {}

    bool requiredString(QLatin1StringView key, const char *at, QString &out) {
        if (!at || seekNull(at))
            return fail(key, "is missing");
        if (m_scanner.peek() != '"')
            return fail(key, "is not a string");
        return m_scanner.readString(out);
    }
    bool optionalString(QLatin1StringView key, const char *at, std::optional<QString> &out) {
        if (!at || seekNull(at))
            return true;
        if (m_scanner.peek() != '"')
            return fail(key, "is not a string");
        QString text;
        if (!m_scanner.readString(text))
            return false;
        out = std::move(text);
        return true;
    }
    bool requiredInteger(QLatin1StringView key, const char *at, qint64 &out) {
        if (!at || seekNull(at))
            return fail(key, "is missing");
        const char c = m_scanner.peek();
        Span text;
        if ((c != '-' && !(c >= '0' && c <= '9')) || !m_scanner.scanNumber(text))
            return fail(key, "is not an integer");
        // Whole numbers in range, also when written as 2.0 or 1e3, as a
        // QJsonValue would read them.
        const QByteArray number(text.begin, text.end - text.begin);
        bool ok = false;
        const qint64 exact = number.toLongLong(&ok);
        if (ok) {
            out = exact;
            return true;
        }
        const double value = number.toDouble(&ok);
        if (!ok || !std::isfinite(value) || value != std::trunc(value) || value < -9223372036854775808.0 ||
            value >= 9223372036854775808.0)
            return fail(key, "is not an integer");
        out = qint64(value);
        return true;
    }
    // Positions the scanner at a nested object; false (without failing) for
    // an absent or null value.
    bool optionalObject(QLatin1StringView key, const char *at, bool &present) {
        present = false;
        if (!at || seekNull(at))
            return true;
        if (m_scanner.peek() != '{')
            return fail(key, "is not an object");
        present = true;
        return true;
    }

    bool fail(QLatin1StringView key, const char *reason) {
        m_error = key + QLatin1Char(' ') + QLatin1StringView(reason);
        return false;
    }

private:
    bool seekNull(const char *at) {
        m_scanner.seek(at);
        return m_scanner.isNull();
    }

    Scanner &m_scanner;
    QString &m_error;
};

const std::array<QLatin1StringView, 2> dueKeys{QLatin1StringView("date"), QLatin1StringView("timezone")};
const std::array<QLatin1StringView, 2> durationKeys{QLatin1StringView("amount"), QLatin1StringView("unit")};
const std::array<QLatin1StringView, 5> taskKeys{QLatin1StringView("id"), QLatin1StringView("content"),
                                                QLatin1StringView("project_id"), QLatin1StringView("due"),
                                                QLatin1StringView("duration")};
const std::array<QLatin1StringView, 5> projectKeys{QLatin1StringView("id"), QLatin1StringView("name"),
                                                   QLatin1StringView("color"), QLatin1StringView("parent_id"),
                                                   QLatin1StringView("child_order")};

// Each item decoder starts at an object and, on success, leaves the scanner
// just past it.
bool decodeDue(Scanner &scanner, int depth, QString &error, TodoistDue &due) {
    WantedKeys<2> keys{dueKeys};
    if (!keys.collect(scanner, depth))
        return false;
    ValueReader reader(scanner, error);
    QString date;
    if (!reader.requiredString(dueKeys[0], keys.values[0], date) ||
        !reader.optionalString(dueKeys[1], keys.values[1], due.timezone))
        return false;
    mapDueDate(date, due);
    scanner.seek(keys.after);
    return true;
}

bool decodeDuration(Scanner &scanner, int depth, QString &error, TodoistDuration &duration) {
    WantedKeys<2> keys{durationKeys};
    if (!keys.collect(scanner, depth))
        return false;
    ValueReader reader(scanner, error);
    const bool ok = reader.requiredInteger(durationKeys[0], keys.values[0], duration.amount) &&
                    reader.requiredString(durationKeys[1], keys.values[1], duration.unit);
    scanner.seek(keys.after);
    return ok;
}

bool decodeTask(Scanner &scanner, int depth, QString &error, TodoistTask &task) {
    WantedKeys<5> keys{taskKeys};
    if (!keys.collect(scanner, depth))
        return false;
    ValueReader reader(scanner, error);
    if (!reader.requiredString(taskKeys[0], keys.values[0], task.id) ||
        !reader.requiredString(taskKeys[1], keys.values[1], task.content) ||
        !reader.requiredString(taskKeys[2], keys.values[2], task.projectId))
        return false;
    bool present = false;
    if (!reader.optionalObject(taskKeys[3], keys.values[3], present))
        return false;
    if (present) {
        TodoistDue due;
        if (!decodeDue(scanner, depth + 1, error, due)) {
            error.prepend(QLatin1String("due."));
            return false;
        }
        task.due = std::move(due);
    }
    if (!reader.optionalObject(taskKeys[4], keys.values[4], present))
        return false;
    if (present) {
        TodoistDuration duration;
        if (!decodeDuration(scanner, depth + 1, error, duration)) {
            error.prepend(QLatin1String("duration."));
            return false;
        }
        task.duration = std::move(duration);
    }
    scanner.seek(keys.after);
    return true;
}

bool decodeProject(Scanner &scanner, int depth, QString &error, TodoistProject &project) {
    WantedKeys<5> keys{projectKeys};
    if (!keys.collect(scanner, depth))
        return false;
    ValueReader reader(scanner, error);
    const bool ok = reader.requiredString(projectKeys[0], keys.values[0], project.id) &&
                    reader.requiredString(projectKeys[1], keys.values[1], project.name) &&
                    reader.requiredString(projectKeys[2], keys.values[2], project.color) &&
                    reader.optionalString(projectKeys[3], keys.values[3], project.parentId) &&
                    reader.requiredInteger(projectKeys[4], keys.values[4], project.order);
    scanner.seek(keys.after);
    return ok;
}

const std::array<QLatin1StringView, 2> pageKeys{QLatin1StringView("results"),
                                                QLatin1StringView("next_cursor")};

template <typename Item, typename DecodeItem>
Decoded<TodoistPage<Item>> decodePage(const QByteArray &body, DecodeItem decodeItem) {
    Decoded<TodoistPage<Item>> result;
    const char *begin = body.constData();
    const char *end = begin + body.size();
    // A byte order mark is tolerated, as QJsonDocument does.
    if (body.startsWith("\xEF\xBB\xBF"))
        begin += 3;
    Scanner scanner(begin, end);
    scanner.setBegin(body.constData());

    // The whole body is checked first: a list is only ever taken from JSON
    // that is valid from end to end.
    if (scanner.peek() != '{') {
        result.error = scanner.atEnd() || scanner.peek() == '['
                           ? QStringLiteral("the body is not a JSON object")
                           : QStringLiteral("invalid JSON at offset 0");
        if (!scanner.atEnd() && scanner.peek() == '[' && scanner.skipValue(0) && scanner.atEnd())
            return result;
        if (!scanner.error().isEmpty())
            result.error = scanner.error();
        else if (!scanner.atEnd())
            result.error = QStringLiteral("invalid JSON");
        return result;
    }
    WantedKeys<2> keys{pageKeys};
    if (!keys.collect(scanner, 0) || !scanner.atEnd()) {
        result.error =
            scanner.error().isEmpty() ? QStringLiteral("invalid JSON: text after the end") : scanner.error();
        return result;
    }

    TodoistPage<Item> page;
    ValueReader reader(scanner, result.error);
    if (!reader.optionalString(pageKeys[1], keys.values[1], page.nextCursor))
        return result;
    if (page.nextCursor && page.nextCursor->isEmpty())
        page.nextCursor.reset();
    if (!keys.values[0] || (scanner.seek(keys.values[0]), scanner.isNull())) {
        result.error = QStringLiteral("results is missing");
        return result;
    }
    if (!scanner.consume('[')) {
        result.error = QStringLiteral("results is not an array");
        return result;
    }
    qsizetype index = 0;
    if (!scanner.consume(']')) {
        for (;; ++index) {
            if (scanner.peek() != '{') {
                result.error = QStringLiteral("results[%1] is not an object").arg(index);
                return result;
            }
            Item item;
            if (!decodeItem(scanner, 2, result.error, item)) {
                result.error.prepend(QStringLiteral("results[%1].").arg(index));
                return result;
            }
            page.results.append(std::move(item));
            // The structure was checked as a whole before.
            if (scanner.consume(']'))
                break;
            scanner.consume(',');
        }
    }
    result.value = std::move(page);
    return result;
}

} // namespace

Decoded<TodoistPage<TodoistTask>> decodeTaskPage(const QByteArray &body) {
    return decodePage<TodoistTask>(body, decodeTask);
}

Decoded<TodoistPage<TodoistProject>> decodeProjectPage(const QByteArray &body) {
    return decodePage<TodoistProject>(body, decodeProject);
}

Decoded<TokenResponse> decodeTokenResponse(const QByteArray &body) {
    Decoded<TokenResponse> result;
    QJsonObject object;
    if (!parseJsonObject(body, object, result.error))
        return result;
    TokenResponse token;
    JsonFieldReader reader(object, result.error);
    if (!reader.requiredString(QLatin1StringView("access_token"), token.accessToken) ||
        !reader.requiredString(QLatin1StringView("token_type"), token.tokenType) ||
        !reader.optionalInteger(QLatin1StringView("expires_in"), token.expiresIn) ||
        !reader.optionalString(QLatin1StringView("refresh_token"), token.refreshToken))
        return result;
    // An empty token would count as "connected" while every request fails.
    if (token.accessToken.isEmpty()) {
        result.error = QStringLiteral("access_token is empty");
        return result;
    }
    if (token.refreshToken && token.refreshToken->isEmpty())
        token.refreshToken.reset();
    result.value = std::move(token);
    return result;
}

Decoded<ClientRegistration> decodeClientRegistration(const QByteArray &body) {
    Decoded<ClientRegistration> result;
    QJsonObject object;
    if (!parseJsonObject(body, object, result.error))
        return result;
    ClientRegistration registration;
    JsonFieldReader reader(object, result.error);
    if (!reader.requiredString(QLatin1StringView("client_id"), registration.clientId))
        return result;
    // A client id is sent back in URLs and stored in the settings: control
    // characters or a runaway length mean the reply is not what it claims.
    const bool printable = std::all_of(registration.clientId.cbegin(), registration.clientId.cend(),
                                       [](QChar c) { return c.isPrint() && !c.isSpace(); });
    if (registration.clientId.isEmpty() || registration.clientId.size() > 512 || !printable) {
        result.error = QStringLiteral("client_id is empty or malformed");
        return result;
    }
    const QJsonValue uris = object.value(QLatin1StringView("redirect_uris"));
    if (!uris.isUndefined() && !uris.isNull()) {
        if (!uris.isArray()) {
            result.error = QStringLiteral("redirect_uris is not an array");
            return result;
        }
        for (const QJsonValue &uri : uris.toArray()) {
            if (!uri.isString()) {
                result.error = QStringLiteral("redirect_uris holds a value that is not a string");
                return result;
            }
            registration.redirectUris.append(uri.toString());
        }
    }
    result.value = std::move(registration);
    return result;
}

std::optional<OAuthError> decodeOAuthError(const QByteArray &body) {
    QJsonObject object;
    QString ignored;
    if (!parseJsonObject(body, object, ignored))
        return std::nullopt;
    const QJsonValue error = object.value(QLatin1StringView("error"));
    if (!error.isString() || error.toString().isEmpty())
        return std::nullopt;
    OAuthError result{error.toString(), std::nullopt};
    const QJsonValue description = object.value(QLatin1StringView("error_description"));
    if (description.isString() && !description.toString().trimmed().isEmpty())
        result.description = description.toString().trimmed();
    return result;
}

std::optional<QDateTime> parseDueDatetime(QStringView text) {
    // yyyy-MM-ddTHH:mm:ss is 19 characters; everything after is optional.
    if (text.size() < 19 || text[4] != QLatin1Char('-') || text[7] != QLatin1Char('-') ||
        text[10] != QLatin1Char('T') || text[13] != QLatin1Char(':') || text[16] != QLatin1Char(':'))
        return std::nullopt;
    const int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2), minute = digits(text, 14, 2), second = digits(text, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0)
        return std::nullopt;
    const QDate date(year, month, day);
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;

    qsizetype pos = 19;
    int millis = 0;
    if (pos < text.size() && text[pos] == QLatin1Char('.')) {
        ++pos;
        const qsizetype start = pos;
        while (pos < text.size() && isDigit(text[pos]))
            ++pos;
        const qsizetype count = pos - start;
        if (count < 1 || count > 9)
            return std::nullopt;
        // QDateTime keeps milliseconds; finer digits are dropped, not rounded,
        // so an instant never moves into the next second.
        for (qsizetype i = 0; i < 3; ++i)
            millis = millis * 10 + (i < count ? text[start + i].unicode() - '0' : 0);
    }
    const QTime time(hour, minute, second, millis);

    if (pos == text.size()) {
        // Floating: the wall-clock time in the zone the user is in now.
        const QDateTime local(date, time, Qt::LocalTime);
        if (!local.isValid())
            return std::nullopt;
        return local.toUTC();
    }
    int offsetSeconds = 0;
    if (text[pos] == QLatin1Char('Z')) {
        if (pos + 1 != text.size())
            return std::nullopt;
    } else if (text[pos] == QLatin1Char('+') || text[pos] == QLatin1Char('-')) {
        if (text.size() - pos != 6 || text[pos + 3] != QLatin1Char(':'))
            return std::nullopt;
        const int offsetHours = digits(text, pos + 1, 2), offsetMinutes = digits(text, pos + 4, 2);
        if (offsetHours < 0 || offsetMinutes < 0 || offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds = (offsetHours * 3600 + offsetMinutes * 60) * (text[pos] == QLatin1Char('-') ? -1 : 1);
    } else {
        return std::nullopt;
    }
    const QDateTime utc(date, time, Qt::UTC);
    return utc.addSecs(-offsetSeconds);
}

// A due date of the v1 API: "yyyy-MM-dd", a floating "yyyy-MM-ddTHH:mm:ss" or a
// fixed UTC "yyyy-MM-ddTHH:mm:ss[.f...]Z". Our record keeps the day as "date" and
// the full text as "datetime" when there is a time; the day of a fixed time is
// the local day of that instant, which is what "due today" means to the user.
void mapDueDate(const QString &text, TodoistDue &due) {
    if (!text.contains(QLatin1Char('T'))) {
        due.date = text;
        return;
    }
    due.datetime = text;
    const bool fixed =
        text.endsWith(QLatin1Char('Z')) || (text.size() > 6 && (text[text.size() - 6] == QLatin1Char('+') ||
                                                                text[text.size() - 6] == QLatin1Char('-')));
    if (fixed) {
        if (const auto instant = parseDueDatetime(text)) {
            due.date = instant->toLocalTime().date().toString(Qt::ISODate);
            return;
        }
    }
    // A floating time, or a fixed one that does not parse (that task is dropped
    // later with a log line; its day still reads from the text).
    due.date = text.left(10);
}

} // namespace daybrook

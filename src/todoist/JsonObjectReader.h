#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QString>
#include <optional>

namespace daybrook {

// Reads typed fields of one JSON object and remembers the first failure as
// "key reason"; callers put the path in front ("results[3].due.date is missing"),
// so that successful decoding never builds path texts.
class JsonFieldReader {
public:
    JsonFieldReader(const QJsonObject &object, QString &error) : m_object(object), m_error(error) {}

    bool requiredString(QLatin1StringView key, QString &out) { return string(key, out, true); }

    bool optionalString(QLatin1StringView key, std::optional<QString> &out) {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            return true;
        if (!value.isString())
            return fail(key, QStringLiteral("is not a string"));
        out = value.toString();
        return true;
    }

    bool requiredInteger(QLatin1StringView key, qint64 &out) {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            return fail(key, QStringLiteral("is missing"));
        return integer(key, value, out);
    }

    bool optionalInteger(QLatin1StringView key, std::optional<qint64> &out) {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            return true;
        qint64 number = 0;
        if (!integer(key, value, number))
            return false;
        out = number;
        return true;
    }

    // Gives the nested object, nothing for an absent or null value; a value of
    // another type fails.
    bool optionalObject(QLatin1StringView key, std::optional<QJsonObject> &out) {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            return true;
        if (!value.isObject())
            return fail(key, QStringLiteral("is not an object"));
        out = value.toObject();
        return true;
    }

private:
    bool string(QLatin1StringView key, QString &out, bool required) {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined() || value.isNull())
            return required ? fail(key, QStringLiteral("is missing")) : true;
        if (!value.isString())
            return fail(key, QStringLiteral("is not a string"));
        out = value.toString();
        return true;
    }

    bool integer(QLatin1StringView key, const QJsonValue &value, qint64 &out) {
        if (!value.isDouble())
            return fail(key, QStringLiteral("is not an integer"));
        // toInteger() gives its default for anything that is not a whole number
        // in range, so two different defaults tell a real value from a refusal.
        const qint64 a = value.toInteger(0);
        const qint64 b = value.toInteger(1);
        if (a != b)
            return fail(key, QStringLiteral("is not an integer"));
        out = a;
        return true;
    }

    bool fail(QLatin1StringView key, const QString &reason) {
        m_error = key + QLatin1Char(' ') + reason;
        return false;
    }

    const QJsonObject &m_object;
    QString &m_error;
};

// Parses a body that must be one JSON object; on failure says why.
inline bool parseJsonObject(const QByteArray &body, QJsonObject &object, QString &error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = QStringLiteral("invalid JSON at offset %1: %2")
                    .arg(parseError.offset)
                    .arg(parseError.errorString());
        return false;
    }
    if (!document.isObject()) {
        error = QStringLiteral("the body is not a JSON object");
        return false;
    }
    object = document.object();
    return true;
}

} // namespace daybrook

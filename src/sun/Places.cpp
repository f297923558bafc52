#include "sun/Places.h"

#include "core/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>
#include <QTimeZone>
#include <algorithm>
#include <cstdlib>

namespace daybrook::sun {

namespace {

// ±DD[D]MM[SS] with `degreeDigits` digits of degrees.
std::optional<double> parseAngle(QStringView text, int degreeDigits, double limit) {
    if (text.size() != degreeDigits + 3 && text.size() != degreeDigits + 5)
        return std::nullopt;
    const QChar sign = text.front();
    if (sign != QLatin1Char('+') && sign != QLatin1Char('-'))
        return std::nullopt;
    int parts[3] = {0, 0, 0};
    const int lengths[3] = {degreeDigits, 2, 2};
    qsizetype at = 1;
    for (int i = 0; i < 3 && at < text.size(); ++i) {
        bool ok = false;
        parts[i] = text.mid(at, lengths[i]).toInt(&ok);
        if (!ok || !text.mid(at, lengths[i]).front().isDigit())
            return std::nullopt;
        at += lengths[i];
    }
    if (parts[1] >= 60 || parts[2] >= 60)
        return std::nullopt;
    const double value = parts[0] + parts[1] / 60.0 + parts[2] / 3600.0;
    if (value > limit)
        return std::nullopt;
    return sign == QLatin1Char('-') ? -value : value;
}

struct ZoneRow {
    QString countryCode;
    QString zoneId;
    Coordinate coordinate;
};

// Rows of a tab file: country code(s), coordinates, zone; "#" starts a comment.
QList<ZoneRow> readZoneTable(const QString &path) {
    QFile file(path);
    QList<ZoneRow> rows;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qCDebug(lcSun) << "cannot read" << path;
        return rows;
    }
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine());
        if (line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.trimmed().split(QLatin1Char('\t'));
        if (fields.size() < 3)
            continue;
        if (const auto coordinate = parseIso6709(fields[1]))
            rows.append({fields[0].section(QLatin1Char(','), 0, 0), fields[2], *coordinate});
    }
    return rows;
}

QHash<QString, QString> readCountryNames(const QString &root) {
    QHash<QString, QString> names;
    QFile file(root + QStringLiteral("/iso3166.tab"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return names;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine());
        const qsizetype tab = line.indexOf(QLatin1Char('\t'));
        if (!line.startsWith(QLatin1Char('#')) && tab > 0)
            names.insert(line.left(tab), line.mid(tab + 1).trimmed());
    }
    return names;
}

QString cityOfZone(const QString &zoneId) {
    return zoneId.section(QLatin1Char('/'), -1).replace(QLatin1Char('_'), QLatin1Char(' '));
}

std::optional<Place> findInTables(const QString &zoneId, const QString &root) {
    for (const char *table : {"/zone1970.tab", "/zone.tab"}) {
        for (const ZoneRow &row : readZoneTable(root + QLatin1String(table))) {
            if (row.zoneId == zoneId) {
                const QString country = readCountryNames(root).value(row.countryCode);
                return Place{cityOfZone(zoneId), country, zoneId, row.coordinate.latitude,
                             row.coordinate.longitude};
            }
        }
    }
    return std::nullopt;
}

// The zone a link name stands for, or an empty text.
QString linkTarget(const QString &zoneId, const QString &root) {
    const QFileInfo file(root + QLatin1Char('/') + zoneId);
    if (file.isSymLink()) {
        const QString canonicalRoot = QFileInfo(root).canonicalFilePath() + QLatin1Char('/');
        const QString target = file.canonicalFilePath();
        if (target.startsWith(canonicalRoot))
            return target.mid(canonicalRoot.size());
    }
    // Packagers may install links as copies or hard links; tzdata.zi still
    // lists them as "L TARGET NAME".
    QFile data(root + QStringLiteral("/tzdata.zi"));
    if (data.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QByteArray suffix = ' ' + zoneId.toUtf8();
        while (!data.atEnd()) {
            const QByteArray line = data.readLine().trimmed();
            if (line.startsWith("L ") && line.endsWith(suffix)) {
                const QList<QByteArray> fields = line.split(' ');
                if (fields.size() == 3 && fields[2] == zoneId.toUtf8())
                    return QString::fromUtf8(fields[1]);
            }
        }
    }
    return {};
}

// Lower case without accents, so "sao" finds "São Paulo".
QString folded(const QString &text) {
    QString result;
    for (const QChar c : text.normalized(QString::NormalizationForm_D))
        if (c.category() != QChar::Mark_NonSpacing)
            result += c.toCaseFolded();
    return result;
}

} // namespace

std::optional<Coordinate> parseIso6709(QStringView text) {
    qsizetype split = -1;
    for (qsizetype i = 1; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')) {
            split = i;
            break;
        }
    }
    if (split < 0)
        return std::nullopt;
    const auto latitude = parseAngle(text.left(split), 2, 90.0);
    const auto longitude = parseAngle(text.mid(split), 3, 180.0);
    if (!latitude || !longitude)
        return std::nullopt;
    return Coordinate{*latitude, *longitude};
}

QString systemTimeZoneId(const QString &root, const QString &localtimePath) {
    // TZ wins over /etc/localtime, as in the C library.
    QString tz = qEnvironmentVariable("TZ");
    if (tz.startsWith(QLatin1Char(':')))
        tz.remove(0, 1);
    if (!tz.isEmpty()) {
        const QString rootPrefix = root + QLatin1Char('/');
        if (tz.startsWith(rootPrefix))
            tz = tz.mid(rootPrefix.size());
        if (!QDir::isAbsolutePath(tz) && !tz.contains(QStringLiteral("..")) &&
            QFileInfo(root + QLatin1Char('/') + tz).isFile())
            return tz;
    }
    if (tz.isEmpty()) {
        // Only the first hop: a chain of links ends at the canonical name,
        // which may be another zone's city (Europe/Oslo is a link to Berlin).
        const QString target = QFileInfo(localtimePath).symLinkTarget();
        static const QRegularExpression zoneinfo(QStringLiteral("/zoneinfo/(?:posix/|right/)?(.+)$"));
        const QRegularExpressionMatch match = zoneinfo.match(target);
        if (match.hasMatch())
            return match.captured(1);
    }
    return QString::fromUtf8(QTimeZone::systemTimeZoneId());
}

std::optional<Place> referenceCity(const QString &zoneId, const QString &root) {
    QString zone = zoneId;
    QSet<QString> seen;
    while (!zone.isEmpty() && !seen.contains(zone)) {
        if (auto place = findInTables(zone, root)) {
            // The zone the user has, not the one it links to.
            place->zoneId = zoneId;
            return place;
        }
        seen.insert(zone);
        zone = linkTarget(zone, root);
    }
    return std::nullopt;
}

QList<Place> tzdataPlaces(const QString &root) {
    const QHash<QString, QString> countries = readCountryNames(root);
    QList<Place> places;
    QSet<QString> zones;
    for (const char *table : {"/zone1970.tab", "/zone.tab"}) {
        for (const ZoneRow &row : readZoneTable(root + QLatin1String(table))) {
            if (zones.contains(row.zoneId))
                continue;
            zones.insert(row.zoneId);
            places.append({cityOfZone(row.zoneId), countries.value(row.countryCode), row.zoneId,
                           row.coordinate.latitude, row.coordinate.longitude});
        }
    }
    std::sort(places.begin(), places.end(),
              [](const Place &a, const Place &b) { return QString::localeAwareCompare(a.name, b.name) < 0; });
    return places;
}

QList<Place> searchPlaces(const QList<Place> &places, const QString &query, int limit) {
    static const QRegularExpression separators(QStringLiteral("[\\s,/_()-]+"));
    const QStringList wanted = folded(query).split(separators, Qt::SkipEmptyParts);
    QList<Place> first;
    QList<Place> rest;
    for (const Place &place : places) {
        const QString name = folded(place.name);
        const QStringList words =
            folded(place.name + QLatin1Char(' ') + place.country + QLatin1Char(' ') + place.zoneId)
                .split(separators, Qt::SkipEmptyParts);
        const bool all = std::all_of(wanted.begin(), wanted.end(), [&](const QString &w) {
            return std::any_of(words.begin(), words.end(),
                               [&](const QString &word) { return word.startsWith(w); });
        });
        if (!all)
            continue;
        (!wanted.isEmpty() && name.startsWith(wanted.first()) ? first : rest).append(place);
    }
    first.append(rest);
    if (first.size() > limit)
        first.resize(limit);
    return first;
}

QString coordinateText(double latitude, double longitude) {
    const QLocale c = QLocale::c();
    return QStringLiteral("%1° %2, %3° %4")
        .arg(c.toString(std::abs(latitude), 'f', 2), latitude < 0 ? QStringLiteral("S") : QStringLiteral("N"),
             c.toString(std::abs(longitude), 'f', 2),
             longitude < 0 ? QStringLiteral("W") : QStringLiteral("E"));
}

QString displayName(const Place &place) {
    if (place.name.isEmpty())
        return coordinateText(place.latitude, place.longitude);
    if (place.country.isEmpty())
        return place.name;
    return place.name + QStringLiteral(", ") + place.country;
}

} // namespace daybrook::sun

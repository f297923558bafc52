#include "core/UserDefaults.h"

#include <QDir>
#include <QStandardPaths>

namespace daybrook {

namespace {
std::unique_ptr<QSettings> &instance() {
    static std::unique_ptr<QSettings> settings;
    return settings;
}

// Lists are written as a JSON-free, unambiguous form: QSettings' own list
// encoding turns a one-element list into a plain string and an empty list into
// an invalid value, so both are recognised on reading.
constexpr auto listMarker = "@List()";
} // namespace

QString UserDefaults::filePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/daybrook/daybrook.conf");
}

QSettings &UserDefaults::store() {
    auto &settings = instance();
    if (!settings) {
        const QString path = filePath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    }
    return *settings;
}

void UserDefaults::reload() {
    if (auto &settings = instance()) {
        settings->sync();
        settings.reset();
    }
}

std::optional<bool> UserDefaults::boolValue(const QString &key) {
    const QVariant value = store().value(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

std::optional<int> UserDefaults::intValue(const QString &key) {
    const QVariant value = store().value(key);
    if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong)
        return value.toInt();
    if (value.typeId() == QMetaType::QString) {
        bool ok = false;
        const int number = value.toString().toInt(&ok);
        if (ok)
            return number;
    }
    return std::nullopt;
}

std::optional<QString> UserDefaults::stringValue(const QString &key) {
    const QVariant value = store().value(key);
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    // A comma in a text makes QSettings read it back as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return std::nullopt;
}

std::optional<QStringList> UserDefaults::stringListValue(const QString &key) {
    if (!store().contains(key))
        return std::nullopt;
    const QVariant value = store().value(key);
    if (value.typeId() == QMetaType::QStringList) {
        QStringList list = value.toStringList();
        if (!list.isEmpty() && list.first() == QLatin1String(listMarker))
            list.removeFirst();
        return list;
    }
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String(listMarker))
            return QStringList{};
        return QStringList{text};
    }
    return std::nullopt;
}

void UserDefaults::setValue(const QString &key, bool value) {
    store().setValue(key, value);
    store().sync();
}

void UserDefaults::setValue(const QString &key, int value) {
    store().setValue(key, value);
    store().sync();
}

void UserDefaults::setValue(const QString &key, const QString &value) {
    store().setValue(key, value);
    store().sync();
}

void UserDefaults::setValue(const QString &key, const QStringList &value) {
    // The marker keeps empty and one-element lists distinguishable from texts.
    QStringList encoded{QLatin1String(listMarker)};
    encoded += value;
    store().setValue(key, encoded);
    store().sync();
}

void UserDefaults::remove(const QString &key) {
    store().remove(key);
    store().sync();
}

bool UserDefaults::contains(const QString &key) {
    return store().contains(key);
}

} // namespace daybrook

#include "core/UserDefaults.h"

#include "core/Logging.h"
#include "core/Notifications.h"

#include <QDir>
#include <QStandardPaths>
#include <algorithm>
#include <limits>

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

int batchDepth = 0;
bool failed = false;

// Writes the pending changes unless a batch holds them back; a failure is told
// once, as the user can do something about it (a read-only file, a folder in
// the way) while every later write would fail the same way.
void commit() {
    if (batchDepth > 0)
        return;
    QSettings &settings = UserDefaults::store();
    settings.sync();
    if (settings.status() == QSettings::NoError || failed)
        return;
    failed = true;
    qCWarning(lcSettings) << "cannot save the settings to" << UserDefaults::filePath();
    Notifications::instance().postSettingsNotSaved(UserDefaults::filePath());
}
} // namespace

UserDefaults::Batch::Batch() {
    ++batchDepth;
}

UserDefaults::Batch::~Batch() {
    --batchDepth;
    commit();
}

bool UserDefaults::saveFailed() {
    return failed;
}

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
    // Another file may be writable again: its first failure is news.
    failed = false;
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
    return intValue(key, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
}

std::optional<int> UserDefaults::intValue(const QString &key, int minimum, int maximum) {
    const QVariant value = store().value(key);
    std::optional<qlonglong> number;
    if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong)
        number = value.toLongLong();
    if (value.typeId() == QMetaType::QString) {
        bool ok = false;
        const qlonglong parsed = value.toString().toLongLong(&ok);
        if (ok)
            number = parsed;
    }
    if (!number)
        return std::nullopt;
    return int(std::clamp<qlonglong>(*number, minimum, maximum));
}

std::optional<QString> UserDefaults::stringValue(const QString &key) {
    const QVariant value = store().value(key);
    QString text;
    if (value.typeId() == QMetaType::QString)
        text = value.toString();
    // A comma in a text makes QSettings read it back as a list.
    else if (value.typeId() == QMetaType::QStringList)
        text = value.toStringList().join(QLatin1Char(','));
    else
        return std::nullopt;
    if (text.size() > maxTextLength)
        return std::nullopt;
    return text;
}

std::optional<QStringList> UserDefaults::stringListValue(const QString &key) {
    if (!store().contains(key))
        return std::nullopt;
    const QVariant value = store().value(key);
    if (value.typeId() == QMetaType::QStringList) {
        QStringList list = value.toStringList();
        if (!list.isEmpty() && list.first() == QLatin1String(listMarker))
            list.removeFirst();
        if (list.size() > maxListEntries)
            list.resize(maxListEntries);
        return list;
    }
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String(listMarker))
            return QStringList{};
        if (text.size() > maxTextLength)
            return std::nullopt;
        return QStringList{text};
    }
    return std::nullopt;
}

void UserDefaults::setValue(const QString &key, bool value) {
    store().setValue(key, value);
    commit();
}

void UserDefaults::setValue(const QString &key, int value) {
    store().setValue(key, value);
    commit();
}

void UserDefaults::setValue(const QString &key, const QString &value) {
    store().setValue(key, value);
    commit();
}

void UserDefaults::setValue(const QString &key, const QStringList &value) {
    // The marker keeps empty and one-element lists distinguishable from texts.
    QStringList encoded{QLatin1String(listMarker)};
    encoded += value;
    store().setValue(key, encoded);
    commit();
}

void UserDefaults::remove(const QString &key) {
    // Removing what is not there would still rewrite the whole file.
    if (!store().contains(key))
        return;
    store().remove(key);
    commit();
}

bool UserDefaults::contains(const QString &key) {
    return store().contains(key);
}

} // namespace daybrook

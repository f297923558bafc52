#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace daybrook {

// The user-defaults store: one INI file, $XDG_CONFIG_HOME/daybrook/daybrook.conf.
// INI keeps no types, so the typed readers below parse what is stored and treat
// a value that does not read as the wanted type as absent.
class UserDefaults {
public:
    static QSettings &store();
    // Path of the INI file (for tests and diagnostics).
    static QString filePath();
    // Drops the cached store so that the next access re-reads the file (tests).
    static void reload();

    static std::optional<bool> boolValue(const QString &key);
    static std::optional<int> intValue(const QString &key);
    static std::optional<QString> stringValue(const QString &key);
    static std::optional<QStringList> stringListValue(const QString &key);

    static void setValue(const QString &key, bool value);
    static void setValue(const QString &key, int value);
    static void setValue(const QString &key, const QString &value);
    static void setValue(const QString &key, const QStringList &value);
    static void remove(const QString &key);
    static bool contains(const QString &key);
};

} // namespace daybrook

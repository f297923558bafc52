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
    // Nothing we write comes near these; a file holding more was damaged or
    // planted, and reading it whole would only slow everything that follows.
    static constexpr qsizetype maxListEntries = 10000;
    static constexpr qsizetype maxTextLength = 64 * 1024;

    // Writes made while a batch is alive reach the file once, when the outermost
    // batch ends, instead of rewriting the whole file at every write.
    class Batch {
    public:
        Batch();
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;
    };

    static QSettings &store();
    // Path of the INI file (for tests and diagnostics).
    static QString filePath();
    // Drops the cached store so that the next access re-reads the file, and
    // forgets an earlier failure to write it (tests).
    static void reload();

    static std::optional<bool> boolValue(const QString &key);
    static std::optional<int> intValue(const QString &key);
    // The stored number brought into [minimum, maximum].
    static std::optional<int> intValue(const QString &key, int minimum, int maximum);
    static std::optional<QString> stringValue(const QString &key);
    static std::optional<QStringList> stringListValue(const QString &key);

    static void setValue(const QString &key, bool value);
    static void setValue(const QString &key, int value);
    static void setValue(const QString &key, const QString &value);
    static void setValue(const QString &key, const QStringList &value);
    static void remove(const QString &key);
    static bool contains(const QString &key);

    // Whether a write of the file has failed since start. The first failure is
    // also posted once through Notifications::settingsNotSaved.
    static bool saveFailed();
};

} // namespace daybrook

#include "platform/Autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace daybrook {

namespace {

const QString relativeEntryPath = QStringLiteral("autostart/daybrook.desktop");

// Reads one key of the [Desktop Entry] group (other groups may reuse key names).
QString desktopEntryValue(const QString &path, QByteArrayView key) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup || line.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals > 0 && line.left(equals).trimmed() == key)
            return QString::fromUtf8(line.mid(equals + 1).trimmed());
    }
    return {};
}

} // namespace

QString Autostart::entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') +
           relativeEntryPath;
}

bool Autostart::isEnabled() const {
    // The user's entry overrides one of the same name in $XDG_CONFIG_DIRS.
    QString path = entryPath();
    if (!QFileInfo(path).isFile())
        path = QStandardPaths::locate(QStandardPaths::GenericConfigLocation, relativeEntryPath);
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    return desktopEntryValue(path, "Hidden") != QLatin1String("true") &&
           desktopEntryValue(path, "X-GNOME-Autostart-enabled") != QLatin1String("false");
}

QString Autostart::binaryPath() const {
    return QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
}

QString Autostart::execValue(const QString &binaryPath) {
    for (const QChar c : binaryPath) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return {};
    }
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : binaryPath)
        needsQuotes = needsQuotes || reserved.contains(c);

    QString value;
    if (needsQuotes) {
        // Inside quotes ", `, $ and \ take a backslash; the key file syntax then
        // doubles every backslash once more.
        value += QLatin1Char('"');
        for (const QChar c : binaryPath) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$'))
                value += QLatin1String("\\\\");
            else if (c == QLatin1Char('\\'))
                value += QLatin1String("\\\\\\");
            value += c;
        }
        value += QLatin1Char('"');
    } else {
        value = binaryPath;
    }
    // A lone % would read as a field code.
    return value.replace(QLatin1Char('%'), QLatin1String("%%"));
}

bool Autostart::setEnabled(bool enabled, QString *errorDescription) {
    const auto fail = [errorDescription](const QString &description) {
        if (errorDescription)
            *errorDescription = description;
        return false;
    };
    const QString path = entryPath();
    if (!enabled) {
        QFile file(path);
        if (QFileInfo(path).exists() && !file.remove())
            return fail(QStringLiteral("cannot remove %1: %2").arg(path, file.errorString()));
        // An entry of the same name installed for every user is switched off with
        // a user entry that hides it.
        const QString shared =
            QStandardPaths::locate(QStandardPaths::GenericConfigLocation, relativeEntryPath);
        if (shared.isEmpty())
            return true;
    }

    QString entry = QStringLiteral("[Desktop Entry]\n"
                                   "Type=Application\n"
                                   "Name=Daybrook\n"
                                   "Comment=The shape of your day, always in view\n");
    if (enabled) {
        const QString binary = binaryPath();
        if (binary.isEmpty())
            return fail(QStringLiteral("cannot find the path of the running program"));
        const QString exec = execValue(binary);
        if (exec.isEmpty())
            return fail(
                QStringLiteral("the program's path %1 cannot be written in an autostart entry").arg(binary));
        entry += QStringLiteral("Exec=%1\n"
                                "Icon=daybrook\n"
                                "Terminal=false\n"
                                "X-GNOME-Autostart-enabled=true\n")
                     .arg(exec);
    } else {
        entry += QStringLiteral("Hidden=true\n");
    }

    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir())
        return fail(QStringLiteral("cannot create the folder %1").arg(folder));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    file.write(entry.toUtf8());
    if (!file.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    return true;
}

} // namespace daybrook

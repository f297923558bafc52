#include "platform/Autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>

namespace daybrook {

QString Autostart::entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/daybrook.desktop");
}

bool Autostart::isEnabled() const {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith("Hidden=") && line.mid(7).trimmed().toLower() == "true")
            return false;
    }
    return true;
}

bool Autostart::setEnabled(bool enabled, QString *errorDescription) {
    const QString path = entryPath();
    if (!enabled) {
        QFile file(path);
        if (file.exists() && !file.remove()) {
            if (errorDescription)
                *errorDescription = file.errorString();
            return false;
        }
        return true;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        if (errorDescription)
            *errorDescription = QStringLiteral("cannot create %1").arg(QFileInfo(path).absolutePath());
        return false;
    }
    // The real path of the running binary, so the entry starts this installation
    // whatever folder it was launched from.
    QString binary = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    if (binary.isEmpty())
        binary = QStringLiteral("daybrook");
    QString exec = binary;
    if (exec.contains(QLatin1Char(' ')) || exec.contains(QLatin1Char('"')))
        exec = QLatin1Char('"') + exec.replace(QLatin1Char('"'), QStringLiteral("\\\"")) + QLatin1Char('"');

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (errorDescription)
            *errorDescription = file.errorString();
        return false;
    }
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Daybrook\n"
                                         "Comment=The shape of your day, always in view\n"
                                         "Exec=%1\n"
                                         "Icon=daybrook\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(exec);
    file.write(entry.toUtf8());
    if (!file.commit()) {
        if (errorDescription)
            *errorDescription = file.errorString();
        return false;
    }
    return true;
}

} // namespace daybrook

#pragma once

#include <QString>

namespace daybrook {

// Launch at login through an XDG autostart entry ($XDG_CONFIG_HOME/autostart/daybrook.desktop).
class Autostart {
public:
    virtual ~Autostart() = default;
    // Enabled when the entry in effect (the user's, else one in $XDG_CONFIG_DIRS)
    // exists and is not switched off with Hidden=true or X-GNOME-Autostart-enabled=false.
    virtual bool isEnabled() const;
    // Writes or removes the user's entry; on failure returns false and describes why.
    virtual bool setEnabled(bool enabled, QString *errorDescription);

    // The user's entry.
    static QString entryPath();

    // The Exec= value that starts the program at this absolute path, quoted and
    // escaped as desktop entries require; empty when no entry can name it (a
    // path with control characters).
    static QString execValue(const QString &binaryPath);

protected:
    // The program the entry starts: the running binary by its real path, so the
    // entry starts this installation whatever folder it was launched from.
    virtual QString binaryPath() const;
};

} // namespace daybrook

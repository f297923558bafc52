#pragma once

#include <QString>

namespace daybrook {

// Launch at login through an XDG autostart entry.
class Autostart {
public:
    virtual ~Autostart() = default;
    // Enabled when the entry exists and is not marked Hidden=true.
    virtual bool isEnabled() const;
    // Writes or removes the entry; on failure returns false and describes why.
    virtual bool setEnabled(bool enabled, QString *errorDescription);

    static QString entryPath();
};

} // namespace daybrook

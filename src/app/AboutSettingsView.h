#pragma once

#include <QWidget>

namespace daybrook {

// "Version 1.2 (45)"; a missing value reads "?".
QString aboutVersionLine(const QString &version, const QString &buildNumber);
// Opens a web or mail address in the desktop's default handler; a text that is
// not an absolute address does nothing. Returns whether it was handed on.
bool openExternalAddress(const QString &address);

// The About tab: the icon, the name, the version and two links.
class AboutSettingsView : public QWidget {
    Q_OBJECT
public:
    explicit AboutSettingsView(QWidget *parent = nullptr);
};

} // namespace daybrook

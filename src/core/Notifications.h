#pragma once

#include <QObject>
#include <QString>

namespace daybrook {

// In-process notifications between the menu, the settings window and the
// application delegate.
class Notifications : public QObject {
    Q_OBJECT
public:
    static Notifications &instance();

    void postDidSelectScreen(const QString &screenName) { Q_EMIT didSelectScreen(screenName); }
    void postDidRequestAboutTab() { Q_EMIT didRequestAboutTab(); }
    void postSettingsNotSaved(const QString &path) { Q_EMIT settingsNotSaved(path); }

Q_SIGNALS:
    void didSelectScreen(const QString &screenName);
    void didRequestAboutTab();
    // The settings file could not be written (posted once per run).
    void settingsNotSaved(const QString &path);
};

} // namespace daybrook

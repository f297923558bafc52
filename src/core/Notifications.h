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

Q_SIGNALS:
    void didSelectScreen(const QString &screenName);
    void didRequestAboutTab();
};

} // namespace daybrook

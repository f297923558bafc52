#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QScreen;

namespace daybrook {

class AppState;

// How an hour of the day-range pickers reads: "07:00", and "24:00" for the end of the day.
QString hourLabel(int hour);

// The General tab: every control writes its setting the moment it changes.
class GeneralSettingsView : public QWidget {
    Q_OBJECT
public:
    // `screens` is the list offered by the screen picker; it is not refreshed while the pane lives.
    GeneralSettingsView(AppState *appState, const QList<QScreen *> &screens, QWidget *parent = nullptr);

private:
    void syncFromState();

    QPointer<AppState> m_appState;
    QStringList m_screenNames;
    QCheckBox *m_launchAtLogin = nullptr;
    QCheckBox *m_preventScreenRecording = nullptr;
    QButtonGroup *m_theme = nullptr;
    QComboBox *m_screen = nullptr;
    QComboBox *m_startHour = nullptr;
    QComboBox *m_endHour = nullptr;
};

} // namespace daybrook

#pragma once

#include "state/DataSource.h"
#include "sun/SunService.h"

#include <QCoroTask>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <optional>

namespace daybrook {

class Autostart;
class SystemAppearance;

enum class AppearanceMode { System, Light, Dark };
QString rawValue(AppearanceMode mode);
// Exact match of "system", "light", "dark"; anything else is nothing.
std::optional<AppearanceMode> appearanceModeFromRawValue(const QString &text);

// What the state is built from; anything left empty is created with its defaults.
struct AppStateDependencies {
    std::unique_ptr<DataSource> dataSource;
    std::unique_ptr<SunService> sunService;
    std::shared_ptr<Autostart> autostart;
    // Not owned; null creates one owned by the state.
    SystemAppearance *appearance = nullptr;
};

// The user's settings for the bar and the application-wide flags. Every setting
// is stored the moment it is written and restored at start.
class AppState : public QObject {
    Q_OBJECT
    Q_PROPERTY(int dayStartHour READ dayStartHour WRITE setDayStartHour NOTIFY dayStartHourChanged)
    Q_PROPERTY(int dayEndHour READ dayEndHour WRITE setDayEndHour NOTIFY dayEndHourChanged)
    Q_PROPERTY(bool alwaysExpanded READ alwaysExpanded WRITE setAlwaysExpanded NOTIFY alwaysExpandedChanged)
    Q_PROPERTY(QString selectedScreenName READ selectedScreenName WRITE setSelectedScreenName NOTIFY
                   selectedScreenNameChanged)
    Q_PROPERTY(bool preventScreenRecording READ preventScreenRecording WRITE setPreventScreenRecording NOTIFY
                   preventScreenRecordingChanged)
    Q_PROPERTY(bool isDarkMode READ isDarkMode WRITE setIsDarkMode NOTIFY isDarkModeChanged)
    Q_PROPERTY(bool isSettingsOpen READ isSettingsOpen WRITE setIsSettingsOpen NOTIFY isSettingsOpenChanged)

public:
    explicit AppState(QObject *parent = nullptr);
    explicit AppState(AppStateDependencies dependencies, QObject *parent = nullptr);
    ~AppState() override;

    DataSource *dataSource() const { return m_dataSource.get(); }
    SunService *sunService() const { return m_sunService.get(); }

    int dayStartHour() const { return m_dayStartHour; }
    void setDayStartHour(int hour);
    int dayEndHour() const { return m_dayEndHour; }
    void setDayEndHour(int hour);
    bool alwaysExpanded() const { return m_alwaysExpanded; }
    void setAlwaysExpanded(bool value);
    const QString &selectedScreenName() const { return m_selectedScreenName; }
    void setSelectedScreenName(const QString &name);
    AppearanceMode appearanceMode() const { return m_appearanceMode; }
    void setAppearanceMode(AppearanceMode mode);
    bool preventScreenRecording() const { return m_preventScreenRecording; }
    void setPreventScreenRecording(bool value);
    bool isDarkMode() const { return m_isDarkMode; }
    void setIsDarkMode(bool value);
    bool isSettingsOpen() const { return m_isSettingsOpen; }
    void setIsSettingsOpen(bool value);
    const std::optional<QDateTime> &lastRefreshTime() const { return m_lastRefreshTime; }
    const QTimer *refreshTimer() const { return m_refreshTimer; }

    bool launchAtLogin() const;
    void setLaunchAtLogin(bool enable);

    QCoro::Task<> refresh();
    void refreshIfNeeded();
    void updateDarkMode();

Q_SIGNALS:
    void dayStartHourChanged();
    void dayEndHourChanged();
    void alwaysExpandedChanged();
    void selectedScreenNameChanged();
    void appearanceModeChanged();
    void preventScreenRecordingChanged();
    void isDarkModeChanged();
    void isSettingsOpenChanged();
    void lastRefreshTimeChanged();
    // Emitted when a refresh started by the state has finished (tests, diagnostics).
    void refreshFinished();

private:
    void restoreSettings();
    void setupAppearanceObserver();
    void startRefreshTimer();
    void startRefresh();

    std::unique_ptr<DataSource> m_dataSource;
    std::unique_ptr<SunService> m_sunService;
    std::shared_ptr<Autostart> m_autostart;
    QPointer<SystemAppearance> m_appearance;
    bool m_appearanceObserved = false;

    int m_dayStartHour = 7;
    int m_dayEndHour = 21;
    bool m_alwaysExpanded = false;
    QString m_selectedScreenName;
    AppearanceMode m_appearanceMode = AppearanceMode::System;
    bool m_preventScreenRecording = true;
    bool m_isDarkMode = false;
    bool m_isSettingsOpen = false;
    std::optional<QDateTime> m_lastRefreshTime;
    QTimer *m_refreshTimer = nullptr;
};

} // namespace daybrook

#include "state/AppState.h"

#include "core/Clock.h"
#include "core/Logging.h"
#include "core/UserDefaults.h"
#include "platform/Autostart.h"
#include "platform/SystemAppearance.h"

#include <QTextStream>
#include <algorithm>

namespace daybrook {

namespace {
const QString keyDayStartHour = QStringLiteral("dayStartHour");
const QString keyDayEndHour = QStringLiteral("dayEndHour");
const QString keyDayStartHourSet = QStringLiteral("dayStartHourSet");
const QString keyAlwaysExpanded = QStringLiteral("alwaysExpanded");
const QString keySelectedScreenName = QStringLiteral("selectedScreenName");
const QString keyAppearanceMode = QStringLiteral("appearanceMode");
const QString keyPreventScreenRecording = QStringLiteral("preventScreenRecording");
const QString keyPreventScreenRecordingSet = QStringLiteral("preventScreenRecordingSet");

constexpr int firstStartHour = 0;
constexpr int lastStartHour = 23;
constexpr int firstEndHour = 1;
constexpr int lastEndHour = 24;

constexpr int refreshIntervalMs = 900 * 1000;
constexpr qint64 minimumRefreshGapMs = 60 * 1000;
} // namespace

QString rawValue(AppearanceMode mode) {
    switch (mode) {
    case AppearanceMode::Light:
        return QStringLiteral("light");
    case AppearanceMode::Dark:
        return QStringLiteral("dark");
    case AppearanceMode::System:
        break;
    }
    return QStringLiteral("system");
}

std::optional<AppearanceMode> appearanceModeFromRawValue(const QString &text) {
    if (text == QLatin1String("system"))
        return AppearanceMode::System;
    if (text == QLatin1String("light"))
        return AppearanceMode::Light;
    if (text == QLatin1String("dark"))
        return AppearanceMode::Dark;
    return std::nullopt;
}

AppState::AppState(QObject *parent) : AppState(AppStateDependencies{}, parent) {}

AppState::AppState(AppStateDependencies dependencies, QObject *parent)
    : QObject(parent), m_dataSource(std::move(dependencies.dataSource)),
      m_sunService(std::move(dependencies.sunService)), m_autostart(std::move(dependencies.autostart)),
      m_appearance(dependencies.appearance) {
    if (!m_dataSource)
        m_dataSource = std::make_unique<DataSource>();
    if (!m_sunService)
        m_sunService = std::make_unique<SunService>();
    if (!m_autostart)
        m_autostart = std::make_shared<Autostart>();
    if (!m_appearance)
        m_appearance = new SystemAppearance(this);

    restoreSettings();

    // Resolve the theme after construction has returned, as observers of the
    // state may only just be connecting.
    QMetaObject::invokeMethod(
        this,
        [this] {
            updateDarkMode();
            setupAppearanceObserver();
        },
        Qt::QueuedConnection);

    startRefreshTimer();
}

AppState::~AppState() = default;

void AppState::restoreSettings() {
    const bool startHourSet = UserDefaults::boolValue(keyDayStartHourSet).value_or(false);
    // Clamped to what the settings offer: a damaged or hand-edited file must not
    // give the bar a day of millions of hours.
    const int storedStart =
        UserDefaults::intValue(keyDayStartHour, firstStartHour, lastStartHour).value_or(0);
    const int storedEnd = UserDefaults::intValue(keyDayEndHour, 0, lastEndHour).value_or(0);
    // A stored 0 is midnight only once the first-launch default has been applied.
    m_dayStartHour = storedStart != 0 ? storedStart : (startHourSet ? 0 : 7);
    m_dayEndHour = storedEnd != 0 ? storedEnd : 21;
    m_alwaysExpanded = UserDefaults::boolValue(keyAlwaysExpanded).value_or(false);
    m_selectedScreenName = UserDefaults::stringValue(keySelectedScreenName).value_or(QString());
    m_appearanceMode =
        appearanceModeFromRawValue(UserDefaults::stringValue(keyAppearanceMode).value_or(QString()))
            .value_or(AppearanceMode::System);
    const bool protectionSet = UserDefaults::boolValue(keyPreventScreenRecordingSet).value_or(false);
    m_preventScreenRecording =
        UserDefaults::boolValue(keyPreventScreenRecording).value_or(false) || !protectionSet;

    // One write of the file for all the first-launch defaults, however large it is.
    const UserDefaults::Batch batch;
    if (!startHourSet) {
        UserDefaults::setValue(keyDayStartHourSet, true);
        UserDefaults::setValue(keyDayStartHour, m_dayStartHour);
        UserDefaults::setValue(keyDayEndHour, m_dayEndHour);
    }
    if (!protectionSet) {
        UserDefaults::setValue(keyPreventScreenRecordingSet, true);
        UserDefaults::setValue(keyPreventScreenRecording, true);
    }
}

void AppState::setDayStartHour(int hour) {
    hour = std::clamp(hour, firstStartHour, lastStartHour);
    m_dayStartHour = hour;
    Q_EMIT dayStartHourChanged();
    UserDefaults::setValue(keyDayStartHour, hour);
}

void AppState::setDayEndHour(int hour) {
    hour = std::clamp(hour, firstEndHour, lastEndHour);
    m_dayEndHour = hour;
    Q_EMIT dayEndHourChanged();
    UserDefaults::setValue(keyDayEndHour, hour);
}

void AppState::setAlwaysExpanded(bool value) {
    m_alwaysExpanded = value;
    Q_EMIT alwaysExpandedChanged();
    UserDefaults::setValue(keyAlwaysExpanded, value);
}

void AppState::setSelectedScreenName(const QString &name) {
    m_selectedScreenName = name;
    Q_EMIT selectedScreenNameChanged();
    UserDefaults::setValue(keySelectedScreenName, name);
}

void AppState::setAppearanceMode(AppearanceMode mode) {
    m_appearanceMode = mode;
    Q_EMIT appearanceModeChanged();
    UserDefaults::setValue(keyAppearanceMode, rawValue(mode));
    updateDarkMode();
}

void AppState::setPreventScreenRecording(bool value) {
    m_preventScreenRecording = value;
    Q_EMIT preventScreenRecordingChanged();
    UserDefaults::setValue(keyPreventScreenRecording, value);
}

void AppState::setIsDarkMode(bool value) {
    m_isDarkMode = value;
    Q_EMIT isDarkModeChanged();
}

void AppState::setIsSettingsOpen(bool value) {
    m_isSettingsOpen = value;
    Q_EMIT isSettingsOpenChanged();
}

void AppState::updateDarkMode() {
    switch (m_appearanceMode) {
    case AppearanceMode::Light:
        setIsDarkMode(false);
        break;
    case AppearanceMode::Dark:
        setIsDarkMode(true);
        break;
    case AppearanceMode::System:
        setIsDarkMode(m_appearance && m_appearance->prefersDark());
        break;
    }
}

void AppState::setupAppearanceObserver() {
    if (m_appearanceObserved || !m_appearance)
        return;
    m_appearanceObserved = true;
    connect(m_appearance, &SystemAppearance::changed, this, &AppState::updateDarkMode);
}

void AppState::startRefreshTimer() {
    delete m_refreshTimer;
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setInterval(refreshIntervalMs);
    connect(m_refreshTimer, &QTimer::timeout, this, &AppState::startRefresh);
    m_refreshTimer->start();
}

QCoro::Task<> AppState::refresh() {
    QPointer<AppState> self(this);
    co_await m_dataSource->refresh();
    if (!self)
        co_return;
    m_lastRefreshTime = Clock::now();
    Q_EMIT lastRefreshTimeChanged();
    Q_EMIT refreshFinished();
}

void AppState::startRefresh() {
    // Fire and forget: the task keeps running on the event loop.
    [](AppState *state) -> QCoro::Task<> { co_await state->refresh(); }(this);
}

void AppState::refreshIfNeeded() {
    if (m_lastRefreshTime && m_lastRefreshTime->msecsTo(Clock::now()) < minimumRefreshGapMs)
        return;
    startRefresh();
}

bool AppState::launchAtLogin() const {
    return m_autostart->isEnabled();
}

void AppState::setLaunchAtLogin(bool enable) {
    QString reason;
    if (!m_autostart->setEnabled(enable, &reason)) {
        QTextStream(stdout) << "Failed to " << (enable ? "enable" : "disable")
                            << " launch at login: " << reason << Qt::endl;
    }
}

} // namespace daybrook

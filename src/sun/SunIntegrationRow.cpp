#include "sun/SunIntegrationRow.h"

#include <QHBoxLayout>
#include <QLocale>
#include <QPushButton>

namespace daybrook {

SunRowPresentation presentSunRow(const SunRowState &state) {
    SunRowPresentation result;
    if (!state.hasAppState)
        result.statusText = QStringLiteral("Service unavailable");
    else if (!state.isEnabled)
        result.statusText = QStringLiteral("Show sunrise and sunset times on the bar");
    else if (state.authorizationStatus == LocationAuthorization::Denied)
        result.statusText = QStringLiteral("Location access denied");
    else if (!state.sunrise)
        result.statusText = QStringLiteral("Requesting location...");
    else
        result.statusText = QStringLiteral("Using your location for accurate times");

    result.showsEnabledBadge = state.hasAppState && state.isEnabled;
    result.showsDetail = state.hasAppState && state.isEnabled;
    if (result.showsDetail) {
        if (state.sunrise && state.sunset)
            result.detailText = QStringLiteral("☀️ ") + clockText(*state.sunrise) +
                                QStringLiteral(" → 🌙 ") + clockText(*state.sunset);
        else if (state.isLoading)
            result.detailText = QStringLiteral("Loading...");
    }
    if (state.hasAppState)
        result.errorText = state.error;
    return result;
}

QString clockText(const QDateTime &instant) {
    return QLocale::c().toString(instant.toLocalTime(), QStringLiteral("HH:mm"));
}

static QColor sunGlyphColor(const QPalette &palette) {
    return style::orangeColor(palette);
}

SunIntegrationRow::SunIntegrationRow(SunService *sun, QWidget *parent)
    : IntegrationRow(style::Symbol::Sunrise, sunGlyphColor, QStringLiteral("Sunrise / Sunset"), parent),
      m_sun(sun) {
    setObjectName(QStringLiteral("sunIntegrationRow"));
    m_enabledBadge = new StatusBadge(QStringLiteral("Enabled"));
    m_enabledBadge->setObjectName(QStringLiteral("enabledBadge"));
    addTrailing(m_enabledBadge);
    m_enableButton = new QPushButton(QStringLiteral("Enable"));
    m_enableButton->setObjectName(QStringLiteral("enableButton"));
    addTrailing(m_enableButton);
    connect(m_enableButton, &QPushButton::clicked, this, [this] {
        if (m_sun)
            m_sun->setIsEnabled(true);
    });

    m_detailText = setUpDetailLine(
        QStringLiteral("Disable"), QStringLiteral("disableButton"),
        [this] {
            if (m_sun)
                m_sun->refreshSunTimes();
        },
        [this] {
            if (m_sun)
                m_sun->disable();
        });

    if (m_sun) {
        for (auto signal : {&SunService::isEnabledChanged, &SunService::sunriseChanged,
                            &SunService::sunsetChanged, &SunService::isLoadingChanged,
                            &SunService::errorChanged, &SunService::authorizationStatusChanged})
            connect(m_sun.data(), signal, this, &SunIntegrationRow::refresh);
    }
    refresh();
}

SunRowState SunIntegrationRow::currentState() const {
    SunRowState state;
    SunService *sun = m_sun;
    if (!sun)
        return state;
    state.hasAppState = true;
    state.isEnabled = sun->isEnabled();
    state.isLoading = sun->isLoading();
    state.authorizationStatus = sun->authorizationStatus();
    state.sunrise = sun->sunrise();
    state.sunset = sun->sunset();
    state.error = sun->error();
    return state;
}

void SunIntegrationRow::refresh() {
    applyState(currentState());
}

void SunIntegrationRow::applyState(const SunRowState &state) {
    const SunRowPresentation shown = presentSunRow(state);
    setStatusText(shown.statusText);
    showTrailing(shown.showsEnabledBadge ? static_cast<QWidget *>(m_enabledBadge) : m_enableButton);
    setDetailVisible(shown.showsDetail);
    m_detailText->setText(shown.detailText);
    setErrorText(shown.errorText);
}

QString SunIntegrationRow::detailText() const {
    return m_detailText->text();
}

} // namespace daybrook

#include "sun/SunIntegrationRow.h"

#include "sun/PlacePicker.h"

#include <QComboBox>
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
    else if (state.position.source == PositionSource::Manual)
        result.statusText = QStringLiteral("Chosen place: ") + sun::displayName(state.position.place);
    else if (state.position.source == PositionSource::TimeZone)
        result.statusText = QStringLiteral("Approximate (time zone %1)").arg(state.position.place.zoneId);
    else if (state.position.source == PositionSource::Unknown && !state.position.place.zoneId.isEmpty())
        result.statusText = QStringLiteral("Time zone %1 has no reference city: choose a place")
                                .arg(state.position.place.zoneId);
    else if (state.position.source == PositionSource::Unknown)
        result.statusText = QStringLiteral("Location unknown: choose a place");
    else if (state.authorizationStatus == LocationAuthorization::Denied)
        result.statusText = QStringLiteral("Location access denied");
    else if (!state.sunrise && state.position.source == PositionSource::None)
        result.statusText = QStringLiteral("Requesting location...");
    else
        result.statusText = QStringLiteral("Using your location for accurate times");

    result.showsEnabledBadge = state.hasAppState && state.isEnabled;
    result.showsDetail = state.hasAppState && state.isEnabled;
    if (result.showsDetail) {
        const PositionSource source = state.position.source;
        const bool placed = source == PositionSource::Device || source == PositionSource::TimeZone ||
                            source == PositionSource::Manual;
        if (state.sunrise && state.sunset)
            result.detailText = QStringLiteral("☀️ ") + clockText(*state.sunrise) +
                                QStringLiteral(" → 🌙 ") + clockText(*state.sunset);
        // With the position known, a missing time is the day's own: the Sun
        // does not cross the horizon that way today.
        else if (placed && !state.sunrise && (state.sunset || state.polarDay != PolarDay::MidnightSun))
            result.detailText = QStringLiteral("No sunrise today");
        else if (placed)
            result.detailText = QStringLiteral("No sunset today");
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

    // Where the times come from, next to them: the location service or a chosen place.
    m_modeBox = new QComboBox;
    m_modeBox->setObjectName(QStringLiteral("locationModeBox"));
    m_modeBox->addItem(QStringLiteral("Automatic"));
    m_modeBox->addItem(QStringLiteral("Manual"));
    m_modeBox->setToolTip(QStringLiteral("Automatic uses the location service, or your time zone without "
                                         "one; Manual uses a place you choose"));
    connect(m_modeBox, &QComboBox::activated, this, &SunIntegrationRow::modeActivated);
    auto *chooseButton = makeBorderlessButton(QStringLiteral("Choose Place…"));
    chooseButton->setObjectName(QStringLiteral("choosePlaceButton"));
    connect(chooseButton, &QPushButton::clicked, this, [this] { choosePlace(); });
    const int afterText = detailLayout()->indexOf(m_detailText) + 1;
    detailLayout()->insertWidget(afterText, m_modeBox);
    detailLayout()->insertWidget(afterText + 1, chooseButton);

    if (m_sun) {
        for (auto signal :
             {&SunService::isEnabledChanged, &SunService::sunriseChanged, &SunService::sunsetChanged,
              &SunService::isLoadingChanged, &SunService::errorChanged,
              &SunService::authorizationStatusChanged, &SunService::locationModeChanged,
              &SunService::positionChanged, &SunService::polarDayChanged})
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
    state.locationMode = sun->locationMode();
    state.position = sun->position();
    state.polarDay = sun->polarDay();
    return state;
}

bool SunIntegrationRow::choosePlace() {
    if (!m_sun)
        return false;
    PlacePicker picker(m_sun->zoneInfoRoot(), window());
    if (m_sun->manualPlace())
        picker.setCurrentPlace(*m_sun->manualPlace());
    if (picker.exec() != QDialog::Accepted || !picker.chosenPlace())
        return false;
    return m_sun && m_sun->setManualPlace(*picker.chosenPlace());
}

void SunIntegrationRow::modeActivated(int index) {
    if (!m_sun)
        return;
    const LocationMode mode = index == 1 ? LocationMode::Manual : LocationMode::Automatic;
    // Manual needs a place: the first time, it is chosen now.
    if (mode == LocationMode::Manual && !m_sun->manualPlace())
        choosePlace();
    else
        m_sun->setLocationMode(mode);
    refresh();
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
    m_modeBox->setCurrentIndex(state.locationMode == LocationMode::Manual ? 1 : 0);
    setErrorText(shown.errorText);
}

QString SunIntegrationRow::detailText() const {
    return m_detailText->text();
}

} // namespace daybrook

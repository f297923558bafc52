#pragma once

#include "sun/SunService.h"
#include "widgets/SettingsWidgets.h"

#include <QPointer>

class QComboBox;
class QPushButton;

namespace daybrook {

// What the sunrise/sunset row shows, as plain values.
struct SunRowState {
    bool hasAppState = false;
    bool isEnabled = false;
    bool isLoading = false;
    LocationAuthorization authorizationStatus = LocationAuthorization::NotDetermined;
    std::optional<QDateTime> sunrise;
    std::optional<QDateTime> sunset;
    std::optional<QString> error;
    LocationMode locationMode = LocationMode::Automatic;
    SunPosition position;
    PolarDay polarDay = PolarDay::None;
};

struct SunRowPresentation {
    QString statusText;
    bool showsEnabledBadge = false; // otherwise the "Enable" button
    bool showsDetail = false;       // the line with the times and Refresh / Disable
    QString detailText;             // the times, "Loading..." or nothing
    std::optional<QString> errorText;
};

SunRowPresentation presentSunRow(const SunRowState &state);

// A time of day as the settings show it: 24-hour "HH:mm" in the local zone.
QString clockText(const QDateTime &instant);

// The sunrise/sunset line of the Integrations tab.
class SunIntegrationRow : public IntegrationRow {
    Q_OBJECT
public:
    explicit SunIntegrationRow(SunService *sun, QWidget *parent = nullptr);

    SunRowState currentState() const;
    // Shows the given values (the row does this itself whenever the service changes).
    void applyState(const SunRowState &state);
    QString detailText() const;

    // Opens the place picker; a chosen place switches to Manual. False when cancelled.
    bool choosePlace();

private:
    void refresh();
    void modeActivated(int index);

    QPointer<SunService> m_sun;
    QComboBox *m_modeBox;
    StatusBadge *m_enabledBadge;
    QPushButton *m_enableButton;
    ToneLabel *m_detailText;
};

} // namespace daybrook

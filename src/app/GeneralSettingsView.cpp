#include "app/GeneralSettingsView.h"

#include "core/Notifications.h"
#include "state/AppState.h"
#include "widgets/SettingsWidgets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

namespace daybrook {

QString hourLabel(int hour) {
    // The label names the setting, not an instant of today: on a day when the
    // clocks change, 02:00 still reads 02:00.
    if (hour == 24)
        return QStringLiteral("24:00");
    return QStringLiteral("%1:00").arg(hour, 2, 10, QLatin1Char('0'));
}

GeneralSettingsView::GeneralSettingsView(AppState *appState, const QList<QScreen *> &screens, QWidget *parent)
    : QWidget(parent), m_appState(appState) {
    setObjectName(QStringLiteral("generalSettingsView"));
    for (QScreen *screen : screens)
        m_screenNames.append(screen->name());

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    if (!appState) {
        auto *loading = new ToneLabel(QStringLiteral("Loading..."), Tone::Secondary, this);
        loading->setAlignment(Qt::AlignCenter);
        outer->addWidget(loading);
        return;
    }

    QVBoxLayout *layout = addScrollingForm(outer, 16);

    auto *general = new FormSection(QStringLiteral("General"));
    m_launchAtLogin = new QCheckBox(QStringLiteral("Launch at Login"));
    m_launchAtLogin->setObjectName(QStringLiteral("launchAtLogin"));
    // The login item's state as read now; a failed change is reported by the state and not undone here.
    m_launchAtLogin->setChecked(appState->launchAtLogin());
    general->addRow(m_launchAtLogin);
    connect(m_launchAtLogin, &QCheckBox::clicked, this, [this](bool checked) {
        if (m_appState)
            m_appState->setLaunchAtLogin(checked);
    });

    m_preventScreenRecording = new QCheckBox(QStringLiteral("Prevent Screen Recording"));
    m_preventScreenRecording->setObjectName(QStringLiteral("preventScreenRecording"));
    // X11 and today's Wayland compositors offer no way to keep one window out
    // of screenshots: the choice is kept (and applied where that becomes
    // possible), and the user is told honestly that it does nothing yet.
    auto *recordingRow = new QWidget;
    auto *recordingLayout = new QVBoxLayout(recordingRow);
    recordingLayout->setContentsMargins(0, 0, 0, 0);
    recordingLayout->setSpacing(2);
    recordingLayout->addWidget(m_preventScreenRecording);
    auto *recordingHint =
        new ToneLabel(QStringLiteral("Has no effect on Linux yet: X11 and Wayland give apps no way "
                                     "to keep a window out of screenshots and recordings."),
                      Tone::Secondary);
    recordingHint->setObjectName(QStringLiteral("preventScreenRecordingHint"));
    recordingHint->setWordWrap(true);
    recordingLayout->addWidget(recordingHint);
    general->addRow(recordingRow);
    connect(m_preventScreenRecording, &QCheckBox::clicked, this, [this](bool checked) {
        if (m_appState)
            m_appState->setPreventScreenRecording(checked);
    });

    auto *segments = new QWidget;
    segments->setObjectName(QStringLiteral("themePicker"));
    auto *segmentLayout = new QHBoxLayout(segments);
    segmentLayout->setContentsMargins(0, 0, 0, 0);
    segmentLayout->setSpacing(0);
    m_theme = new QButtonGroup(this);
    m_theme->setExclusive(true);
    const std::pair<AppearanceMode, QString> modes[] = {{AppearanceMode::System, QStringLiteral("System")},
                                                        {AppearanceMode::Light, QStringLiteral("Light")},
                                                        {AppearanceMode::Dark, QStringLiteral("Dark")}};
    for (const auto &[mode, label] : modes) {
        auto *button = new QPushButton(label, segments);
        button->setObjectName(QStringLiteral("theme:") + rawValue(mode));
        button->setCheckable(true);
        button->setMinimumWidth(72);
        m_theme->addButton(button, int(mode));
        segmentLayout->addWidget(button);
    }
    general->addLabeledRow(QStringLiteral("Theme"), segments);
    connect(m_theme, &QButtonGroup::idClicked, this, [this](int id) {
        if (m_appState)
            m_appState->setAppearanceMode(AppearanceMode(id));
    });

    m_screen = new QComboBox;
    m_screen->setObjectName(QStringLiteral("screenPicker"));
    m_screen->addItems(m_screenNames);
    general->addLabeledRow(QStringLiteral("Screen"), m_screen);
    connect(m_screen, &QComboBox::activated, this, [this](int index) {
        if (m_appState && index >= 0 && index < m_screenNames.size())
            m_appState->setSelectedScreenName(m_screenNames.at(index));
    });
    layout->addWidget(general);

    auto *range = new FormSection(QStringLiteral("Day Range"));
    m_startHour = new QComboBox;
    m_startHour->setObjectName(QStringLiteral("startTimePicker"));
    for (int hour = 0; hour <= 23; ++hour)
        m_startHour->addItem(hourLabel(hour), hour);
    range->addLabeledRow(QStringLiteral("Start time"), m_startHour);
    m_endHour = new QComboBox;
    m_endHour->setObjectName(QStringLiteral("endTimePicker"));
    for (int hour = 1; hour <= 24; ++hour)
        m_endHour->addItem(hourLabel(hour), hour);
    range->addLabeledRow(QStringLiteral("End time"), m_endHour);
    layout->addWidget(range);
    layout->addStretch(1);
    connect(m_startHour, &QComboBox::activated, this, [this](int index) {
        if (m_appState && index >= 0)
            m_appState->setDayStartHour(m_startHour->itemData(index).toInt());
    });
    connect(m_endHour, &QComboBox::activated, this, [this](int index) {
        if (m_appState && index >= 0)
            m_appState->setDayEndHour(m_endHour->itemData(index).toInt());
    });

    for (auto signal : {&AppState::preventScreenRecordingChanged, &AppState::appearanceModeChanged,
                        &AppState::dayStartHourChanged, &AppState::dayEndHourChanged})
        connect(appState, signal, this, &GeneralSettingsView::syncFromState);
    connect(appState, &AppState::selectedScreenNameChanged, this, [this] {
        syncFromState();
        // Whoever changed the screen, the bar follows while this pane is shown.
        if (m_appState && isVisible())
            Notifications::instance().postDidSelectScreen(m_appState->selectedScreenName());
    });
    syncFromState();
}

void GeneralSettingsView::syncFromState() {
    if (!m_appState)
        return;
    m_preventScreenRecording->setChecked(m_appState->preventScreenRecording());
    if (QAbstractButton *button = m_theme->button(int(m_appState->appearanceMode())))
        button->setChecked(true);
    // A name that is not in the list (a first launch, a detached screen) leaves the picker empty.
    m_screen->setCurrentIndex(m_screenNames.indexOf(m_appState->selectedScreenName()));
    m_startHour->setCurrentIndex(m_startHour->findData(m_appState->dayStartHour()));
    m_endHour->setCurrentIndex(m_endHour->findData(m_appState->dayEndHour()));
}

} // namespace daybrook

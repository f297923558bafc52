#include "app/SettingsView.h"

#include "app/AboutSettingsView.h"
#include "app/GeneralSettingsView.h"
#include "app/IntegrationsSettingsView.h"
#include "calendar/CalendarSettingsViews.h"
#include "core/Notifications.h"
#include "state/AppState.h"
#include "todoist/TodoistSettingsViews.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QWindow>

namespace daybrook {

QString rawValue(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::General:
        return QStringLiteral("general");
    case SettingsTab::Integrations:
        return QStringLiteral("integrations");
    case SettingsTab::Todoist:
        return QStringLiteral("todoist");
    case SettingsTab::Calendar:
        return QStringLiteral("calendar");
    case SettingsTab::About:
        return QStringLiteral("about");
    }
    return {};
}

std::optional<SettingsTab> settingsTabFromRawValue(const QString &text) {
    for (SettingsTab tab : {SettingsTab::General, SettingsTab::Integrations, SettingsTab::Todoist,
                            SettingsTab::Calendar, SettingsTab::About}) {
        if (rawValue(tab) == text)
            return tab;
    }
    return std::nullopt;
}

QString tabTitle(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::General:
        return QStringLiteral("General");
    case SettingsTab::Integrations:
        return QStringLiteral("Integrations");
    case SettingsTab::Todoist:
        return QStringLiteral("Todoist");
    case SettingsTab::Calendar:
        return QStringLiteral("Calendar");
    case SettingsTab::About:
        return QStringLiteral("About");
    }
    return {};
}

style::Symbol tabSymbol(SettingsTab tab) {
    switch (tab) {
    case SettingsTab::General:
        return style::Symbol::Gear;
    case SettingsTab::Integrations:
        return style::Symbol::Link;
    case SettingsTab::Todoist:
        return style::Symbol::CheckCircle;
    case SettingsTab::Calendar:
        return style::Symbol::Calendar;
    case SettingsTab::About:
        return style::Symbol::InfoCircle;
    }
    return style::Symbol::Gear;
}

QList<SettingsTab> visibleTabs(const TabAvailability &availability) {
    QList<SettingsTab> tabs{SettingsTab::General, SettingsTab::Integrations};
    if (availability.todoistConnected)
        tabs.append(SettingsTab::Todoist);
    if (availability.hasCalendarService && availability.calendarEnabled &&
        availability.calendarStatus == CalendarAuthorization::FullAccess)
        tabs.append(SettingsTab::Calendar);
    tabs.append(SettingsTab::About);
    return tabs;
}

SettingsTabButton::SettingsTabButton(SettingsTab tab, QWidget *parent) : QAbstractButton(parent), m_tab(tab) {
    setObjectName(QStringLiteral("tab:") + rawValue(tab));
    setText(tabTitle(tab));
    setFixedSize(80, 50);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

void SettingsTabButton::setSelected(bool selected) {
    m_selected = selected;
    update();
}

void SettingsTabButton::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette &p = palette();
    const QColor accent = style::accentColor(p);
    const QRectF frame = QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75);
    if (m_selected) {
        QColor fill = accent;
        fill.setAlphaF(0.15);
        QPainterPath path;
        path.addRoundedRect(frame, 8, 8);
        painter.fillPath(path, fill);
        painter.setPen(QPen(accent, 1.5));
        painter.drawPath(path);
    } else if (hasFocus()) {
        painter.setPen(QPen(style::tertiaryColor(p), 1));
        painter.drawRoundedRect(frame, 8, 8);
    }

    const QColor content = m_selected ? accent : style::secondaryColor(p);
    const bool alwaysRed = m_tab == SettingsTab::Todoist || m_tab == SettingsTab::Calendar;
    const QColor iconColor = alwaysRed ? style::redColor(p) : content;

    const QFont titleFont = style::smallFont();
    const QFontMetrics metrics(titleFont);
    const int stackHeight = 24 + 4 + metrics.height();
    const int top = (height() - stackHeight) / 2;
    const QPixmap glyph = style::symbolPixmap(tabSymbol(m_tab), iconColor, 20, devicePixelRatioF());
    painter.drawPixmap(QPointF((width() - 20) / 2.0, top + 2), glyph);
    painter.setFont(titleFont);
    painter.setPen(content);
    painter.drawText(QRect(0, top + 28, width(), metrics.height()), Qt::AlignHCenter | Qt::AlignTop, text());
}

SettingsTabBar::SettingsTabBar(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tabBar"));
    m_row = new QHBoxLayout(this);
    m_row->setContentsMargins(16, 12, 16, 8);
    m_row->setSpacing(2);
    setFocusPolicy(Qt::NoFocus);
}

void SettingsTabBar::setTabs(const QList<SettingsTab> &tabs) {
    if (tabs == m_tabs && !m_buttons.isEmpty())
        return;
    m_tabs = tabs;
    for (SettingsTabButton *button : std::as_const(m_buttons)) {
        // May run inside a button's own click: delete once it has returned.
        button->hide();
        button->setParent(nullptr);
        button->deleteLater();
    }
    m_buttons.clear();
    while (QLayoutItem *item = m_row->takeAt(0))
        delete item;
    m_row->addStretch(1);
    for (SettingsTab tab : tabs) {
        auto *button = new SettingsTabButton(tab, this);
        button->setSelected(tab == m_selected);
        connect(button, &QAbstractButton::clicked, this, [this, tab] { Q_EMIT tabClicked(tab); });
        m_row->addWidget(button);
        button->show();
        m_buttons.append(button);
    }
    m_row->addStretch(1);
}

void SettingsTabBar::setSelectedTab(SettingsTab tab) {
    m_selected = tab;
    for (SettingsTabButton *button : std::as_const(m_buttons))
        button->setSelected(button->tab() == tab);
}

SettingsTabButton *SettingsTabBar::button(SettingsTab tab) const {
    for (SettingsTabButton *button : m_buttons) {
        if (button->tab() == tab)
            return button;
    }
    return nullptr;
}

void SettingsTabBar::keyPressEvent(QKeyEvent *event) {
    const qsizetype index = m_tabs.indexOf(m_selected);
    if (index >= 0 && event->key() == Qt::Key_Left && index > 0) {
        Q_EMIT tabClicked(m_tabs.at(index - 1));
        return;
    }
    if (index >= 0 && event->key() == Qt::Key_Right && index + 1 < m_tabs.size()) {
        Q_EMIT tabClicked(m_tabs.at(index + 1));
        return;
    }
    QWidget::keyPressEvent(event);
}

SettingsView::SettingsView(AppState *appState, CalendarService *calendar, TodoistService *todoist,
                           QWidget *parent)
    : QWidget(parent), m_appState(appState), m_calendar(calendar), m_todoist(todoist) {
    setObjectName(QStringLiteral("settingsView"));
    setFixedWidth(viewWidth);
    setMinimumHeight(viewHeight);
    setAutoFillBackground(true);

    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    m_tabBar = new SettingsTabBar(this);
    m_tabBar->setFocusPolicy(Qt::StrongFocus);
    m_layout->addWidget(m_tabBar);
    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedHeight(1);
    divider->setForegroundRole(QPalette::Mid);
    m_layout->addWidget(divider);
    connect(m_tabBar, &SettingsTabBar::tabClicked, this, &SettingsView::setSelectedTab);

    if (todoist)
        connect(todoist, &TodoistService::accessTokenChanged, this, &SettingsView::updateTabs);
    if (calendar) {
        connect(calendar, &CalendarService::authorizationStatusChanged, this, &SettingsView::updateTabs);
        connect(calendar, &CalendarService::isEnabledChanged, this, &SettingsView::updateTabs);
    }
    // The About command of the menu reaches an open window this way.
    connect(&Notifications::instance(), &Notifications::didRequestAboutTab, this,
            [this] { setSelectedTab(SettingsTab::About); });

    updateTabs();
    showPane();
}

TabAvailability SettingsView::availability() const {
    if (m_availabilityOverride)
        return m_availabilityOverride();
    TabAvailability result;
    result.todoistConnected = m_todoist && m_todoist->accessToken().has_value();
    result.hasCalendarService = m_calendar != nullptr;
    if (m_calendar) {
        result.calendarEnabled = m_calendar->isEnabled();
        result.calendarStatus = m_calendar->authorizationStatus();
    }
    return result;
}

void SettingsView::setAvailabilityOverride(std::function<TabAvailability()> availability) {
    m_availabilityOverride = std::move(availability);
    updateTabs();
}

void SettingsView::updateTabs() {
    const QList<SettingsTab> tabs = daybrook::visibleTabs(availability());
    m_tabBar->setTabs(tabs);
    m_tabBar->setSelectedTab(m_selectedTab);
    if (!tabs.contains(m_selectedTab))
        setSelectedTab(SettingsTab::Integrations);
}

void SettingsView::setSelectedTab(SettingsTab tab) {
    if (tab == m_selectedTab && m_pane)
        return;
    if (!m_tabBar->tabs().contains(tab))
        return;
    m_selectedTab = tab;
    m_tabBar->setSelectedTab(tab);
    showPane();
    Q_EMIT selectedTabChanged(tab);
}

void SettingsView::showPane() {
    if (m_pane) {
        // The old pane may be the sender of what led here (a Disconnect button).
        m_layout->removeWidget(m_pane);
        m_pane->hide();
        m_pane->setParent(nullptr);
        m_pane->deleteLater();
    }
    // Every pane starts afresh when its tab is chosen.
    switch (m_selectedTab) {
    case SettingsTab::General:
        m_pane = new GeneralSettingsView(m_appState, QGuiApplication::screens());
        break;
    case SettingsTab::Integrations:
        m_pane = new IntegrationsSettingsView(m_appState, m_todoist, m_calendar);
        break;
    case SettingsTab::Todoist:
        m_pane = new TodoistSettingsView(m_todoist);
        break;
    case SettingsTab::Calendar:
        m_pane = new CalendarSettingsView(m_calendar);
        break;
    case SettingsTab::About:
        m_pane = new AboutSettingsView;
        break;
    }
    m_layout->addWidget(m_pane, 1);
    if (isVisible())
        m_pane->show();
}

void SettingsView::mousePressEvent(QMouseEvent *event) {
    // Presses that no control took move the window, as its title bar would.
    if (event->button() == Qt::LeftButton) {
        if (QWindow *handle = window()->windowHandle()) {
            if (handle->startSystemMove()) {
                event->accept();
                return;
            }
        }
    }
    QWidget::mousePressEvent(event);
}

} // namespace daybrook

#include "app/StatusMenu.h"

#include "BuildConfig.h"
#include "app/AppDelegate.h"
#include "bar/FloatingBarPanel.h"
#include "state/AppState.h"
#include "widgets/SettingsStyle.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTextStream>

namespace daybrook {

StatusMenu::StatusMenu(AppDelegate *delegate, QObject *parent)
    : QObject(parent), m_delegate(delegate), m_menu(std::make_unique<QMenu>()) {
    m_menu->setObjectName(QStringLiteral("statusMenu"));
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this] { populate(m_menu.get()); });
    populate(m_menu.get());
}

StatusMenu::~StatusMenu() {
    if (m_tray)
        m_tray->setContextMenu(nullptr);
}

QString StatusMenu::screenTitle(const QString &model, const QString &manufacturer, const QString &connector) {
    // Connector names alone ("DP-1", "HDMI-1") do not tell two monitors apart
    // for most people; the monitor's own name does, and the connector keeps
    // two of the same model apart.
    const QString product = (model.isEmpty() ? manufacturer : model).trimmed();
    if (product.isEmpty() || product == connector)
        return connector;
    return QStringLiteral("%1 (%2)").arg(product, connector);
}

QString StatusMenu::noTrayMessage() {
    return QStringLiteral("Daybrook: no system tray found; run `daybrook` again to open Settings.");
}

void StatusMenu::setup() {
    if (m_tray)
        return;
    m_tray = new QSystemTrayIcon(style::trayIcon(), this);
    m_tray->setToolTip(QStringLiteral("Daybrook"));
    m_tray->setContextMenu(m_menu.get());
    // A left click opens the same menu as a right click.
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            m_menu->popup(QCursor::pos());
    });
    // Shown even without a tray now: Qt adds it once a tray appears.
    m_tray->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        QTextStream(stdout) << noTrayMessage() << Qt::endl;
}

void StatusMenu::populate(QMenu *menu) {
    // The old Display submenu is a child of the menu, not one of its actions.
    const QList<QMenu *> submenus = menu->findChildren<QMenu *>(QString(), Qt::FindDirectChildrenOnly);
    menu->clear();
    for (QMenu *submenu : submenus)
        submenu->deleteLater();

    AppDelegate *delegate = m_delegate;
    FloatingBarPanel *panel = delegate->floatingBarWindow();
    AppState *state = delegate->appState();

    QAction *hide = menu->addAction(QStringLiteral("Hide Bar"));
    hide->setCheckable(true);
    hide->setChecked(!panel || !panel->isVisible());
    connect(hide, &QAction::triggered, delegate, &AppDelegate::toggleFloatingBar);

    QAction *pin = menu->addAction(QStringLiteral("Always Expanded"));
    pin->setCheckable(true);
    pin->setChecked(panel && state && state->alwaysExpanded());
    connect(pin, &QAction::triggered, delegate, &AppDelegate::toggleAlwaysExpanded);

    QAction *login = menu->addAction(QStringLiteral("Start on Login"));
    login->setCheckable(true);
    login->setChecked(state && state->launchAtLogin());
    connect(login, &QAction::triggered, delegate, &AppDelegate::toggleLaunchAtLogin);

    auto *display = new QMenu(QStringLiteral("Display"), menu);
    display->setObjectName(QStringLiteral("displayMenu"));
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (int index = 0; index < screens.size(); ++index) {
        QScreen *screen = screens.at(index);
        QAction *item =
            display->addAction(screenTitle(screen->model(), screen->manufacturer(), screen->name()));
        item->setData(index);
        item->setCheckable(true);
        item->setChecked(panel && panel->currentScreen() == screens.at(index));
        connect(item, &QAction::triggered, delegate, [delegate, index] { delegate->selectScreen(index); });
    }
    menu->addMenu(display);

    menu->addSeparator();
    const QString version = QString::fromUtf8(build::version);
    QAction *versionItem =
        menu->addAction(QStringLiteral("Version: ") + (version.isEmpty() ? QStringLiteral("?") : version));
    versionItem->setEnabled(false);

    QAction *updates = menu->addAction(QStringLiteral("Check for Updates..."));
    connect(updates, &QAction::triggered, delegate, &AppDelegate::checkForUpdates);
    QAction *about = menu->addAction(QStringLiteral("About Daybrook"));
    connect(about, &QAction::triggered, delegate, &AppDelegate::openAbout);
    QAction *settings = menu->addAction(QStringLiteral("Settings..."));
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(settings, &QAction::triggered, delegate, &AppDelegate::openSettings);

    menu->addSeparator();
    QAction *quit = menu->addAction(QStringLiteral("Quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, delegate, &AppDelegate::quitApp);
}

} // namespace daybrook

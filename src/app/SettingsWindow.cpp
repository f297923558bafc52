#include "app/SettingsWindow.h"

#include "app/SettingsView.h"
#include "widgets/SettingsStyle.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QShortcut>
#include <QVBoxLayout>

namespace daybrook {

SettingsWindow::SettingsWindow(AppState *appState, CalendarService *calendar, TodoistService *todoist)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("settingsWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    // No title text: the tab row says where the user is. The icon still names
    // the program in task switchers.
    setWindowTitle(QString());
    setWindowIcon(style::applicationIcon());
    setWindowRole(QStringLiteral("settings"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_view = new SettingsView(appState, calendar, todoist, this);
    layout->addWidget(m_view);
    setFixedSize(SettingsView::viewWidth, SettingsView::viewHeight);

    auto *close = new QShortcut(QKeySequence::Close, this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    auto *quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quit, &QShortcut::activated, qApp, &QCoreApplication::quit);
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::closeEvent(QCloseEvent *event) {
    Q_EMIT windowWillClose(this);
    event->accept();
}

} // namespace daybrook

#include "todoist/TodoistSettingsViews.h"

#include "widgets/TriStateCheckbox.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <cmath>

namespace daybrook {

TodoistRowPresentation presentTodoistRow(const TodoistRowState &state) {
    TodoistRowPresentation result;
    if (!state.hasService)
        result.statusText = QStringLiteral("Service unavailable");
    else if (!state.isConnected && state.signInExpired)
        result.statusText = QStringLiteral("Sign-in expired. Connect again to show your tasks");
    else if (!state.isConnected && state.waitingForKeyring)
        result.statusText = QStringLiteral("Waiting for the keyring…");
    else if (!state.isConnected)
        result.statusText = QStringLiteral("Not connected");
    else
        result.statusText = QStringLiteral("Showing tasks with due times");
    result.showsConnectedBadge = state.hasService && state.isConnected;
    result.showsDetail = result.showsConnectedBadge;
    if (result.showsDetail)
        result.detailText = QStringLiteral("%1 tasks with due times · %2 due today")
                                .arg(state.tasksWithDueTime)
                                .arg(state.tasksDueToday);
    if (state.hasService)
        result.errorText = state.error ? state.error : state.secretStoreNotice;
    return result;
}

static QColor todoistGlyphColor(const QPalette &palette) {
    return style::redColor(palette);
}

TodoistIntegrationRow::TodoistIntegrationRow(TodoistService *service, QWidget *parent)
    : IntegrationRow(style::Symbol::CheckCircle, todoistGlyphColor, QStringLiteral("Todoist"), parent),
      m_service(service) {
    setObjectName(QStringLiteral("todoistIntegrationRow"));
    m_connectedBadge = new StatusBadge(QStringLiteral("Connected"));
    m_connectedBadge->setObjectName(QStringLiteral("connectedBadge"));
    addTrailing(m_connectedBadge);
    m_connectActions = new QWidget;
    auto *actions = new QHBoxLayout(m_connectActions);
    actions->setContentsMargins(0, 0, 0, 0);
    auto *tokenButton = new QPushButton(QStringLiteral("Use an API token instead"));
    tokenButton->setObjectName(QStringLiteral("apiTokenButton"));
    tokenButton->setFlat(true);
    actions->addWidget(tokenButton);
    m_connectButton = new QPushButton(QStringLiteral("Connect"));
    m_connectButton->setObjectName(QStringLiteral("connectButton"));
    actions->addWidget(m_connectButton);
    addTrailing(m_connectActions);
    connect(m_connectButton, &QPushButton::clicked, this, [this] {
        if (m_service)
            m_service->startOAuth();
    });
    connect(tokenButton, &QPushButton::clicked, this, [this] {
        if (!m_service)
            return;
        auto *dialog = new TodoistApiTokenDialog(m_service, window());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
    });

    m_detailText = setUpDetailLine(
        QStringLiteral("Disconnect"), QStringLiteral("disconnectButton"),
        [this] {
            [](QPointer<TodoistService> s) -> QCoro::Task<> {
                if (s)
                    co_await s->fetchAll();
            }(m_service);
        },
        [this] {
            if (m_service)
                m_service->disconnect();
        });

    if (service) {
        for (auto signal : {&TodoistService::accessTokenChanged, &TodoistService::tasksChanged,
                            &TodoistService::errorChanged, &TodoistService::projectsChanged,
                            &TodoistService::waitingForKeyringChanged,
                            &TodoistService::secretStoreNoticeChanged, &TodoistService::signInExpiredChanged})
            connect(service, signal, this, &TodoistIntegrationRow::refresh);
    }
    refresh();
}

TodoistApiTokenDialog::TodoistApiTokenDialog(TodoistService *service, QWidget *parent)
    : QDialog(parent), m_service(service) {
    setObjectName(QStringLiteral("apiTokenDialog"));
    setWindowTitle(QStringLiteral("Connect with an API token"));
    auto *layout = new QVBoxLayout(this);
    auto *where = new QLabel(QStringLiteral("Your personal API token is in Todoist under Settings → "
                                            "Integrations → Developer."));
    where->setWordWrap(true);
    layout->addWidget(where);
    m_token = new QLineEdit;
    m_token->setObjectName(QStringLiteral("apiTokenField"));
    m_token->setEchoMode(QLineEdit::Password);
    m_token->setPlaceholderText(QStringLiteral("API token"));
    layout->addWidget(m_token);
    m_message = new QLabel;
    m_message->setObjectName(QStringLiteral("apiTokenMessage"));
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: %1").arg(style::redColor(palette()).name()));
    m_message->hide();
    layout->addWidget(m_message);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    m_connect = buttons->addButton(QStringLiteral("Connect"), QDialogButtonBox::AcceptRole);
    m_connect->setObjectName(QStringLiteral("apiTokenConnect"));
    m_connect->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_connect, &QPushButton::clicked, this, &TodoistApiTokenDialog::submit);
}

void TodoistApiTokenDialog::submit() {
    if (!m_service)
        return;
    m_connect->setEnabled(false);
    m_message->hide();
    [](QPointer<TodoistApiTokenDialog> dialog, QPointer<TodoistService> service,
       QString token) -> QCoro::Task<> {
        const std::optional<QString> refused = co_await service->connectWithApiToken(std::move(token));
        if (!dialog)
            co_return;
        dialog->m_connect->setEnabled(true);
        if (!refused) {
            dialog->accept();
            co_return;
        }
        dialog->m_message->setText(*refused);
        dialog->m_message->show();
    }(this, m_service, m_token->text());
}

TodoistRowState TodoistIntegrationRow::currentState() const {
    TodoistRowState state;
    if (!m_service)
        return state;
    state.hasService = true;
    state.isConnected = m_service->accessToken().has_value();
    state.signInExpired = m_service->isSignInExpired();
    state.tasksWithDueTime = m_service->tasksWithDueTimeCount();
    state.tasksDueToday = m_service->tasksDueToday().size();
    state.error = m_service->error();
    state.waitingForKeyring = m_service->isWaitingForKeyring();
    state.secretStoreNotice = m_service->secretStoreNotice();
    return state;
}

void TodoistIntegrationRow::refresh() {
    applyState(currentState());
}

void TodoistIntegrationRow::applyState(const TodoistRowState &state) {
    const TodoistRowPresentation shown = presentTodoistRow(state);
    setStatusText(shown.statusText);
    showTrailing(shown.showsConnectedBadge ? static_cast<QWidget *>(m_connectedBadge) : m_connectActions);
    setDetailVisible(shown.showsDetail);
    m_detailText->setText(shown.detailText);
    setErrorText(shown.errorText);
}

QString TodoistIntegrationRow::detailText() const {
    return m_detailText->text();
}

TodoistPaneSource todoistPaneSource(TodoistService *service) {
    TodoistPaneSource source;
    source.tasksWithDueTime = [] { return 0; };
    source.tasksDueToday = [] { return qsizetype(0); };
    source.projectTree = [] { return QList<ProjectNode>(); };
    source.toggleState = [](const QString &) { return ToggleState::All; };
    source.setProjectEnabled = [](const QString &, bool) {};
    source.error = [] { return std::optional<QString>(); };
    source.refresh = [] {};
    source.disconnect = [] {};
    if (!service)
        return source;
    QPointer<TodoistService> s(service);
    source.hasService = true;
    source.tasksWithDueTime = [s] { return s ? s->tasksWithDueTimeCount() : 0; };
    source.tasksDueToday = [s] { return s ? s->tasksDueToday().size() : qsizetype(0); };
    source.projectTree = [s] { return s ? s->projectTree() : QList<ProjectNode>(); };
    source.toggleState = [s](const QString &id) { return s ? s->projectToggleState(id) : ToggleState::All; };
    source.setProjectEnabled = [s](const QString &id, bool enabled) {
        if (s)
            s->setProjectEnabled(id, enabled);
    };
    source.error = [s] { return s ? s->error() : std::optional<QString>(); };
    source.refresh = [s] {
        [](QPointer<TodoistService> target) -> QCoro::Task<> {
            if (target)
                co_await target->fetchAll();
        }(s);
    };
    source.disconnect = [s] {
        if (s)
            s->disconnect();
    };
    return source;
}

int descendantCount(const ProjectNode &node) {
    int count = 0;
    for (const ProjectNode &child : node.children)
        count += 1 + descendantCount(child);
    return count;
}

static void appendVisible(const ProjectNode &node, const QSet<QString> &expanded,
                          QList<ProjectRowModel> &rows) {
    const bool isExpanded = expanded.contains(node.project.id);
    rows.append({node.project, node.depth, !node.children.isEmpty(), descendantCount(node), isExpanded});
    if (!isExpanded)
        return;
    for (const ProjectNode &child : node.children)
        appendVisible(child, expanded, rows);
}

QList<ProjectRowModel> visibleProjectRows(const QList<ProjectNode> &tree, const QSet<QString> &expanded) {
    QList<ProjectRowModel> rows;
    for (const ProjectNode &node : tree)
        appendVisible(node, expanded, rows);
    return rows;
}

namespace {
// A one-line text cut at its end with an ellipsis when it does not fit.
class ElidedLabel : public QWidget {
public:
    explicit ElidedLabel(const QString &text, QWidget *parent = nullptr) : QWidget(parent), m_text(text) {
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        setAccessibleName(text);
    }
    QString text() const { return m_text; }
    QSize sizeHint() const override {
        // Rounded up, or a text that just fits would be cut.
        const QFontMetricsF metrics(font());
        return {int(std::ceil(metrics.horizontalAdvance(m_text))) + 2, int(std::ceil(metrics.height()))};
    }
    QSize minimumSizeHint() const override { return {20, QFontMetrics(font()).height()}; }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        const QString shown = fontMetrics().elidedText(m_text, Qt::ElideRight, width());
        painter.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft, shown);
    }

private:
    QString m_text;
};
} // namespace

TodoistSettingsView::TodoistSettingsView(TodoistService *service, QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("todoistSettingsView"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    QVBoxLayout *layout = addScrollingForm(outer, 16);

    layout->addWidget(makeConnectedHeader(
        this, [this] { m_source.refresh(); }, [this] { m_source.disconnect(); }));

    auto *tasks = new FormSection(QStringLiteral("Tasks"));
    m_withDueTime = new ToneLabel({}, Tone::Secondary);
    m_withDueTime->setObjectName(QStringLiteral("tasksWithDueTimes"));
    tasks->addLabeledRow(QStringLiteral("Tasks with due times"), m_withDueTime);
    m_dueToday = new ToneLabel({}, Tone::Secondary);
    m_dueToday->setObjectName(QStringLiteral("tasksDueToday"));
    tasks->addLabeledRow(QStringLiteral("Tasks due today"), m_dueToday);
    layout->addWidget(tasks);

    m_projectsSection = new FormSection(QStringLiteral("Projects"));
    m_projectsSection->setObjectName(QStringLiteral("projectsSection"));
    layout->addWidget(m_projectsSection);

    m_errorSection = new FormSection;
    m_errorSection->setObjectName(QStringLiteral("errorSection"));
    m_errorText = new ToneLabel({}, Tone::Red);
    m_errorText->setObjectName(QStringLiteral("errorText"));
    m_errorText->setFont(style::captionFont());
    m_errorText->setWordWrap(true);
    m_errorText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_errorSection->addRow(m_errorText);
    layout->addWidget(m_errorSection);
    layout->addStretch(1);

    m_source = todoistPaneSource(service);
    if (service) {
        for (auto signal : {&TodoistService::projectsChanged, &TodoistService::tasksChanged,
                            &TodoistService::disabledProjectIdsChanged, &TodoistService::accessTokenChanged,
                            &TodoistService::errorChanged})
            connect(service, signal, this, &TodoistSettingsView::reload);
    }
    reload();
}

void TodoistSettingsView::setSource(TodoistPaneSource source) {
    m_source = std::move(source);
    reload();
}

void TodoistSettingsView::toggleProject(const QString &id) {
    if (!m_expandedProjects.remove(id))
        m_expandedProjects.insert(id);
    rebuildProjects();
}

void TodoistSettingsView::reload() {
    m_withDueTime->setText(QString::number(m_source.hasService ? m_source.tasksWithDueTime() : 0));
    m_dueToday->setText(QString::number(m_source.hasService ? m_source.tasksDueToday() : 0));
    const std::optional<QString> error = m_source.hasService ? m_source.error() : std::nullopt;
    m_errorText->setText(error.value_or(QString()));
    m_errorSection->setVisible(error.has_value());
    rebuildProjects();
}

void TodoistSettingsView::rebuildProjects() {
    m_projectsSection->clearRows();
    const QList<ProjectNode> tree = m_source.hasService ? m_source.projectTree() : QList<ProjectNode>();
    m_projectsSection->setVisible(!tree.isEmpty());

    for (const ProjectRowModel &model : visibleProjectRows(tree, m_expandedProjects)) {
        const QString id = model.project.id;
        auto *row = new QWidget;
        row->setObjectName(QStringLiteral("project:") + id);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(model.depth * 16, 3, 0, 3);
        layout->setSpacing(6);

        auto *expander = new QWidget(row);
        expander->setFixedSize(12, 12);
        if (model.hasChildren) {
            auto *chevron = new ChevronButton(expander);
            chevron->setObjectName(QStringLiteral("chevron"));
            chevron->setExpanded(model.isExpanded);
            chevron->setAccessibleName(model.isExpanded
                                           ? QStringLiteral("Collapse %1").arg(model.project.name)
                                           : QStringLiteral("Expand %1").arg(model.project.name));
            connect(chevron, &QAbstractButton::clicked, this, [this, id] { toggleProject(id); });
        }
        layout->addWidget(expander);
        layout->addWidget(new ColorDot(todoistColor(model.project.color).toQColor(), 10, row));
        auto *name = new ElidedLabel(model.project.name, row);
        name->setObjectName(QStringLiteral("projectName"));
        layout->addWidget(name);
        if (model.hasChildren) {
            auto *count =
                new ToneLabel(QStringLiteral("· %1").arg(model.descendantCount), Tone::Tertiary, row);
            count->setObjectName(QStringLiteral("descendantCount"));
            layout->addWidget(count);
        }
        layout->addStretch(1);
        auto *checkbox = new TriStateCheckbox(m_source.toggleState(id), row);
        checkbox->setObjectName(QStringLiteral("projectCheckbox"));
        checkbox->setAccessibleName(QStringLiteral("Show %1 on the bar").arg(model.project.name));
        layout->addWidget(checkbox);
        connect(checkbox, &TriStateCheckbox::activated, this, [this, id](bool enabled) {
            m_source.setProjectEnabled(id, enabled);
            reload();
        });
        m_projectsSection->addRow(row);
    }
}

} // namespace daybrook

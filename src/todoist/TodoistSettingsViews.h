#pragma once

#include "todoist/TodoistService.h"
#include "widgets/SettingsWidgets.h"

#include <QDialog>
#include <QPointer>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace daybrook {

class FormSection;

// ---- The Todoist line of the Integrations tab ----

struct TodoistRowState {
    bool hasService = false;
    bool isConnected = false;
    int tasksWithDueTime = 0;
    qsizetype tasksDueToday = 0;
    std::optional<QString> error;
    bool signInExpired = false; // Todoist refused to renew it; only while not connected
    bool waitingForKeyring = false;
    std::optional<QString> secretStoreNotice;
};

struct TodoistRowPresentation {
    QString statusText;
    bool showsConnectedBadge = false; // otherwise the "Connect" button
    bool showsDetail = false;
    QString detailText;
    std::optional<QString> errorText;
};

TodoistRowPresentation presentTodoistRow(const TodoistRowState &state);

// "Use an API token instead": the personal token pasted into a masked field,
// checked with Todoist before it is stored.
class TodoistApiTokenDialog : public QDialog {
    Q_OBJECT
public:
    explicit TodoistApiTokenDialog(TodoistService *service, QWidget *parent = nullptr);

private:
    void submit();

    QPointer<TodoistService> m_service;
    QLineEdit *m_token;
    QLabel *m_message;
    QPushButton *m_connect;
};

class TodoistIntegrationRow : public IntegrationRow {
    Q_OBJECT
public:
    explicit TodoistIntegrationRow(TodoistService *service, QWidget *parent = nullptr);

    TodoistRowState currentState() const;
    void applyState(const TodoistRowState &state);
    QString detailText() const;

private:
    void refresh();

    QPointer<TodoistService> m_service;
    StatusBadge *m_connectedBadge;
    QWidget *m_connectActions;
    QPushButton *m_connectButton;
    ToneLabel *m_detailText;
};

// ---- The Todoist tab ----

// Where the tab reads its values and sends its changes; made from the service,
// or from anything else that keeps the same rules (previews).
struct TodoistPaneSource {
    bool hasService = false;
    std::function<int()> tasksWithDueTime;
    std::function<qsizetype()> tasksDueToday;
    std::function<QList<ProjectNode>()> projectTree;
    std::function<ToggleState(const QString &)> toggleState;
    std::function<void(const QString &, bool)> setProjectEnabled;
    std::function<std::optional<QString>()> error;
    std::function<void()> refresh;
    std::function<void()> disconnect;
};
TodoistPaneSource todoistPaneSource(TodoistService *service);

// One line of the project list as shown.
struct ProjectRowModel {
    TodoistProject project;
    int depth = 0;
    bool hasChildren = false;
    int descendantCount = 0;
    bool isExpanded = false;
};

// Depth-first, children only under expanded projects.
QList<ProjectRowModel> visibleProjectRows(const QList<ProjectNode> &tree, const QSet<QString> &expanded);
int descendantCount(const ProjectNode &node);

class TodoistSettingsView : public QWidget {
    Q_OBJECT
public:
    explicit TodoistSettingsView(TodoistService *service, QWidget *parent = nullptr);

    void setSource(TodoistPaneSource source);
    const QSet<QString> &expandedProjects() const { return m_expandedProjects; }
    void toggleProject(const QString &id);
    void reload();

private:
    void rebuildProjects();

    TodoistPaneSource m_source;
    QSet<QString> m_expandedProjects;
    ToneLabel *m_withDueTime;
    ToneLabel *m_dueToday;
    FormSection *m_projectsSection;
    FormSection *m_errorSection;
    ToneLabel *m_errorText;
};

} // namespace daybrook

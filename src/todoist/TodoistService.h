#pragma once

#include "data/TimeEntry.h"
#include "todoist/TodoistModels.h"

#include <QCoroTask>
#include <QObject>
#include <QSet>
#include <QUrl>
#include <optional>

namespace daybrook {

// Where the service talks to; tests point every URL at 127.0.0.1.
struct TodoistConfig {
    QUrl apiBaseUrl;   // e.g. https://api.todoist.com
    QUrl authorizeUrl; // e.g. https://app.todoist.com/oauth/authorize
    QUrl tokenUrl;     // e.g. https://api.todoist.com/oauth/access_token
    QString clientId;
    QString clientSecret;
    int timeoutMs = 60000;

    // The values fixed at configure time.
    static TodoistConfig fromBuild();
};

// The one object through which the program talks to Todoist: the task and
// project lists, sign-in, the stored token and the project filter.
class TodoistService : public QObject {
    Q_OBJECT
public:
    explicit TodoistService(TodoistConfig config = TodoistConfig::fromBuild(), QObject *parent = nullptr);
    ~TodoistService() override;

    bool isLoading() const { return m_isLoading; }
    const QList<TodoistTask> &tasks() const { return m_tasks; }
    const QList<TodoistProject> &projects() const { return m_projects; }
    const std::optional<QString> &error() const { return m_error; }
    const QSet<QString> &disabledProjectIds() const { return m_disabledProjectIds; }
    const std::optional<QString> &accessToken() const { return m_accessToken; }
    const std::optional<QString> &oauthState() const { return m_oauthState; }
    bool isConnected() const { return m_accessToken.has_value(); }

    void setAccessToken(const std::optional<QString> &token);

    QCoro::Task<> fetchAll();
    void startOAuth();
    QCoro::Task<bool> handleOAuthCallback(QUrl url);
    void disconnect();

    QList<TodoistTask> tasksDueToday() const;
    int tasksWithDueTimeCount() const;
    QString todayString() const;

    TimeEntryList toTimeEntries() const;

    QList<ProjectNode> projectTree() const;
    QStringList descendantProjectIds(const QString &id) const;
    ToggleState projectToggleState(const QString &id) const;
    void setProjectEnabled(const QString &id, bool enabled);

Q_SIGNALS:
    void isLoadingChanged();
    void tasksChanged();
    void projectsChanged();
    void errorChanged();
    void disabledProjectIdsChanged();
    void accessTokenChanged();
    void oauthStateChanged();

private:
    TodoistConfig m_config;
    bool m_isLoading = false;
    QList<TodoistTask> m_tasks;
    QList<TodoistProject> m_projects;
    std::optional<QString> m_error;
    QSet<QString> m_disabledProjectIds;
    std::optional<QString> m_accessToken;
    std::optional<QString> m_oauthState;
};

// Todoist's colour names to colours; an unknown name gives the standard blue.
Color todoistColor(const QString &name);

} // namespace daybrook

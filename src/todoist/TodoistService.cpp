#include "todoist/TodoistService.h"

#include "BuildConfig.h"

// Placeholder until the Todoist client lands: a service that is never connected.

namespace daybrook {

TodoistConfig TodoistConfig::fromBuild() {
    TodoistConfig config;
    config.apiBaseUrl = QUrl(QString::fromUtf8(build::todoistApiUrl));
    config.authorizeUrl = QUrl(QString::fromUtf8(build::todoistAuthorizeUrl));
    config.tokenUrl = QUrl(QString::fromUtf8(build::todoistTokenUrl));
    config.clientId = QString::fromUtf8(build::todoistClientId);
    config.clientSecret = QString::fromUtf8(build::todoistClientSecret);
    return config;
}

TodoistService::TodoistService(TodoistConfig config, QObject *parent)
    : QObject(parent), m_config(std::move(config)) {}
TodoistService::~TodoistService() = default;

void TodoistService::setAccessToken(const std::optional<QString> &token) {
    m_accessToken = token;
    Q_EMIT accessTokenChanged();
}

QCoro::Task<> TodoistService::fetchAll() {
    co_return;
}

void TodoistService::startOAuth() {}

QCoro::Task<bool> TodoistService::handleOAuthCallback(QUrl url) {
    Q_UNUSED(url);
    co_return false;
}

void TodoistService::disconnect() {}
QList<TodoistTask> TodoistService::tasksDueToday() const {
    return {};
}
int TodoistService::tasksWithDueTimeCount() const {
    return 0;
}
QString TodoistService::todayString() const {
    return {};
}
TimeEntryList TodoistService::toTimeEntries() const {
    return {};
}
QList<ProjectNode> TodoistService::projectTree() const {
    return {};
}
QStringList TodoistService::descendantProjectIds(const QString &) const {
    return {};
}
ToggleState TodoistService::projectToggleState(const QString &) const {
    return ToggleState::All;
}
void TodoistService::setProjectEnabled(const QString &, bool) {}

Color todoistColor(const QString &) {
    return standardBlue();
}

} // namespace daybrook

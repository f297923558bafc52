#include "app/Updater.h"

#include "BuildConfig.h"
#include "core/Logging.h"
#include "widgets/SettingsStyle.h"

#include <QCoroNetworkReply>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

namespace daybrook {

std::optional<UpdateFeedEntry> parseUpdateFeed(const QByteArray &json, QString *error) {
    const auto fail = [error](const QString &why) -> std::optional<UpdateFeedEntry> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(QStringLiteral("the feed is not valid JSON (%1)").arg(parseError.errorString()));
    if (!document.isObject())
        return fail(QStringLiteral("the feed is not a JSON object"));
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QStringLiteral("version"));
    const QJsonValue url = object.value(QStringLiteral("url"));
    if (!version.isString() || !compareVersions(version.toString(), version.toString()))
        return fail(QStringLiteral("the feed has no valid \"version\""));
    // The address ends up as a link the user clicks: only web pages are accepted.
    const QUrl page(url.toString(), QUrl::StrictMode);
    if (!url.isString() || !page.isValid() || page.host().isEmpty() ||
        (page.scheme() != QLatin1String("https") && page.scheme() != QLatin1String("http")))
        return fail(QStringLiteral("the feed has no valid \"url\""));
    return UpdateFeedEntry{version.toString(), page};
}

namespace {
struct ParsedVersion {
    QList<qint64> numbers;
    QString preRelease;
};

std::optional<ParsedVersion> parseVersion(QString text) {
    text = text.trimmed();
    if (text.startsWith(QLatin1Char('v')) || text.startsWith(QLatin1Char('V')))
        text.remove(0, 1);
    // Build metadata does not order versions.
    text = text.section(QLatin1Char('+'), 0, 0);
    ParsedVersion parsed;
    const qsizetype dash = text.indexOf(QLatin1Char('-'));
    if (dash >= 0) {
        parsed.preRelease = text.mid(dash + 1);
        text.truncate(dash);
        if (parsed.preRelease.isEmpty())
            return std::nullopt;
    }
    static const QRegularExpression number(QStringLiteral("^[0-9]{1,9}$"));
    const QStringList parts = text.split(QLatin1Char('.'));
    for (const QString &part : parts) {
        if (!number.match(part).hasMatch())
            return std::nullopt;
        parsed.numbers.append(part.toLongLong());
    }
    return parsed;
}
} // namespace

std::optional<int> compareVersions(const QString &a, const QString &b) {
    const std::optional<ParsedVersion> left = parseVersion(a);
    const std::optional<ParsedVersion> right = parseVersion(b);
    if (!left || !right)
        return std::nullopt;
    const qsizetype count = qMax(left->numbers.size(), right->numbers.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 l = left->numbers.value(i, 0);
        const qint64 r = right->numbers.value(i, 0);
        if (l != r)
            return l < r ? -1 : 1;
    }
    if (left->preRelease.isEmpty() != right->preRelease.isEmpty())
        return left->preRelease.isEmpty() ? 1 : -1;
    const int order = QString::compare(left->preRelease, right->preRelease);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

UpdateMessage updateMessage(const UpdateCheckResult &result) {
    UpdateMessage message;
    switch (result.kind) {
    case UpdateCheckResult::Kind::NoFeed:
        message.title = QStringLiteral("Updates Not Configured");
        message.text =
            QStringLiteral("This build of Daybrook has no update feed configured, so it cannot look "
                           "for newer versions.");
        break;
    case UpdateCheckResult::Kind::UpToDate:
        message.title = QStringLiteral("You're up to date");
        message.text = QStringLiteral("Daybrook %1 is the newest version available.")
                           .arg(result.currentVersion.toHtmlEscaped());
        break;
    case UpdateCheckResult::Kind::UpdateAvailable:
        message.title = QStringLiteral("A new version of Daybrook is available");
        message.text = QStringLiteral("Daybrook %1 is available; you have %2.<br><br><a href=\"%3\">%4</a>")
                           .arg(result.latestVersion.toHtmlEscaped(), result.currentVersion.toHtmlEscaped(),
                                result.pageUrl.toString(QUrl::FullyEncoded).toHtmlEscaped(),
                                result.pageUrl.toDisplayString().toHtmlEscaped());
        break;
    case UpdateCheckResult::Kind::Failed:
        message.title = QStringLiteral("Update Check Failed");
        message.text =
            QStringLiteral("Daybrook could not check for updates: %1").arg(result.error.toHtmlEscaped());
        break;
    }
    return message;
}

Updater::Updater(const QUrl &feedUrl, const QString &currentVersion, QObject *parent)
    : QObject(parent), m_feedUrl(feedUrl), m_currentVersion(currentVersion),
      m_network(new QNetworkAccessManager(this)) {}

std::unique_ptr<Updater> Updater::fromBuild(QObject *parent) {
    return std::make_unique<Updater>(QUrl(QString::fromUtf8(build::updateFeedUrl)),
                                     QString::fromUtf8(build::version), parent);
}

Updater::~Updater() {
    delete m_dialog;
}

void Updater::startAutomaticChecks() {
    if (m_feedUrl.isEmpty() || m_dailyTimer)
        return;
    m_dailyTimer = new QTimer(this);
    m_dailyTimer->setInterval(checkIntervalMs);
    connect(m_dailyTimer, &QTimer::timeout, this, [this] { run(false); });
    m_dailyTimer->start();
    // Not during start-up itself: the desktop and the network may still be settling.
    QTimer::singleShot(m_firstCheckDelayMs, this, [this] { run(false); });
}

void Updater::checkForUpdates() {
    run(true);
}

QCoro::Task<UpdateCheckResult> Updater::check() {
    UpdateCheckResult result;
    result.currentVersion = m_currentVersion;
    if (m_feedUrl.isEmpty()) {
        result.kind = UpdateCheckResult::Kind::NoFeed;
        co_return result;
    }
    QNetworkRequest request(m_feedUrl);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Daybrook/") + m_currentVersion);
    request.setTransferTimeout(30000);
    QNetworkReply *reply = m_network->get(request);
    // A feed is a few hundred bytes; anything far bigger is not one.
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received > maximumFeedBytes)
            reply->abort();
    });
    QPointer<Updater> self(this);
    co_await qCoro(reply).waitForFinished();
    reply->deleteLater();
    if (!self)
        co_return result;

    result.kind = UpdateCheckResult::Kind::Failed;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError) {
        result.error =
            status != 0 ? QStringLiteral("the server answered %1").arg(status) : reply->errorString();
        if (reply->error() == QNetworkReply::OperationCanceledError)
            result.error = QStringLiteral("the feed is too large or took too long");
        co_return result;
    }
    const QByteArray body = reply->readAll();
    if (body.size() > maximumFeedBytes) {
        result.error = QStringLiteral("the feed is too large or took too long");
        co_return result;
    }
    QString error;
    const std::optional<UpdateFeedEntry> entry = parseUpdateFeed(body, &error);
    if (!entry) {
        result.error = error;
        co_return result;
    }
    const std::optional<int> order = compareVersions(entry->version, m_currentVersion);
    if (!order) {
        result.error = QStringLiteral("the running version \"%1\" cannot be compared").arg(m_currentVersion);
        co_return result;
    }
    result.latestVersion = entry->version;
    if (*order > 0) {
        result.kind = UpdateCheckResult::Kind::UpdateAvailable;
        result.pageUrl = entry->pageUrl;
    } else {
        result.kind = UpdateCheckResult::Kind::UpToDate;
    }
    co_return result;
}

QCoro::Task<> Updater::run(bool interactive) {
    QPointer<Updater> self(this);
    const UpdateCheckResult result = co_await check();
    if (!self)
        co_return;
    Q_EMIT checkFinished(result);
    if (interactive) {
        present(result);
        co_return;
    }
    // Background checks speak up only about a release not announced before in this run.
    if (result.kind == UpdateCheckResult::Kind::Failed)
        qCDebug(lcApp) << "update check failed:" << result.error;
    if (result.kind == UpdateCheckResult::Kind::UpdateAvailable &&
        result.latestVersion != m_announcedVersion) {
        m_announcedVersion = result.latestVersion;
        present(result);
    }
}

void Updater::present(const UpdateCheckResult &result) {
    const UpdateMessage message = updateMessage(result);
    if (!m_dialog) {
        m_dialog = new QMessageBox;
        m_dialog->setObjectName(QStringLiteral("updateDialog"));
        m_dialog->setAttribute(Qt::WA_DeleteOnClose);
        m_dialog->setWindowFlag(Qt::WindowStaysOnTopHint);
        m_dialog->setIconPixmap(style::applicationIcon().pixmap(64, 64));
        m_dialog->setTextFormat(Qt::RichText);
        m_dialog->setTextInteractionFlags(Qt::TextBrowserInteraction);
        m_dialog->setWindowTitle(QStringLiteral("Software Update"));
    }
    m_dialog->setText(QStringLiteral("<b>%1</b><br><br>%2").arg(message.title.toHtmlEscaped(), message.text));
    for (QAbstractButton *button : m_dialog->buttons()) {
        if (m_dialog->standardButton(button) == QMessageBox::NoButton) {
            m_dialog->removeButton(button);
            button->deleteLater();
        }
    }
    m_dialog->setStandardButtons(QMessageBox::Ok);
    if (result.kind == UpdateCheckResult::Kind::UpdateAvailable) {
        QPushButton *open =
            m_dialog->addButton(QStringLiteral("Open Download Page"), QMessageBox::AcceptRole);
        const QUrl page = result.pageUrl;
        connect(open, &QPushButton::clicked, this, [page] { QDesktopServices::openUrl(page); });
    }
    m_dialog->show();
    m_dialog->raise();
    m_dialog->activateWindow();
}

} // namespace daybrook

#pragma once

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <optional>

#include <QMessageBox>
class QNetworkAccessManager;
class QTimer;

namespace daybrook {

// One release as the feed describes it: {"version": "1.2.0", "url": "https://..."}.
struct UpdateFeedEntry {
    QString version;
    QUrl pageUrl;
};

// The feed's entry, or nothing with `error` saying what is wrong with it.
std::optional<UpdateFeedEntry> parseUpdateFeed(const QByteArray &json, QString *error = nullptr);

// Dotted numeric versions ("1.10.0" > "1.9"; missing parts are 0; a leading "v"
// is ignored; "1.2.0-beta" < "1.2.0"). Nothing when either is not a version.
std::optional<int> compareVersions(const QString &a, const QString &b);

struct UpdateCheckResult {
    enum class Kind { NoFeed, UpToDate, UpdateAvailable, Failed };
    Kind kind = Kind::NoFeed;
    QString currentVersion;
    QString latestVersion; // UpToDate, UpdateAvailable
    QUrl pageUrl;          // UpdateAvailable
    QString error;         // Failed
};

struct UpdateMessage {
    QString title;
    QString text; // rich text
};
UpdateMessage updateMessage(const UpdateCheckResult &result);

// Looks for a newer release in a small JSON feed: once soon after start, then
// daily, and whenever the user asks.
class Updater : public QObject {
    Q_OBJECT
public:
    static constexpr int checkIntervalMs = 24 * 60 * 60 * 1000;
    static constexpr qint64 maximumFeedBytes = 64 * 1024;

    // An empty feed address means that this build has no update feed.
    Updater(const QUrl &feedUrl, const QString &currentVersion, QObject *parent = nullptr);
    // The feed and version fixed at configure time.
    static std::unique_ptr<Updater> fromBuild(QObject *parent = nullptr);
    ~Updater() override;

    const QUrl &feedUrl() const { return m_feedUrl; }
    // How long after start the first automatic check runs.
    void setFirstCheckDelay(int ms) { m_firstCheckDelayMs = ms; }
    // Schedules the check at start and the daily ones (nothing without a feed).
    void startAutomaticChecks();
    const QTimer *dailyTimer() const { return m_dailyTimer; }

    // The menu's command: checks now and always answers with a dialog.
    void checkForUpdates();
    QMessageBox *dialog() const { return m_dialog; }

    QCoro::Task<UpdateCheckResult> check();

Q_SIGNALS:
    void checkFinished(const UpdateCheckResult &result);

private:
    QCoro::Task<> run(bool interactive);
    void present(const UpdateCheckResult &result);

    QUrl m_feedUrl;
    QString m_currentVersion;
    QNetworkAccessManager *m_network;
    QTimer *m_dailyTimer = nullptr;
    QPointer<QMessageBox> m_dialog;
    QString m_announcedVersion;
    int m_firstCheckDelayMs = 5000;
};

} // namespace daybrook

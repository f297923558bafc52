#include "app/AboutSettingsView.h"

#include "BuildConfig.h"
#include "widgets/SettingsWidgets.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace daybrook {

QString aboutVersionLine(const QString &version, const QString &buildNumber) {
    const auto orUnknown = [](const QString &text) { return text.isEmpty() ? QStringLiteral("?") : text; };
    return QStringLiteral("Version ") + orUnknown(version) + QStringLiteral(" (") + orUnknown(buildNumber) +
           QStringLiteral(")");
}

bool openExternalAddress(const QString &address) {
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return false;
    return QDesktopServices::openUrl(url);
}

AboutSettingsView::AboutSettingsView(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("aboutSettingsView"));
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(24);
    layout->addStretch(1);

    auto *icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("appIcon"));
    icon->setFixedSize(128, 128);
    icon->setPixmap(style::applicationIcon().pixmap(QSize(128, 128), devicePixelRatioF()));
    icon->setScaledContents(true);
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    auto *names = new QVBoxLayout;
    names->setSpacing(4);
    auto *name = new QLabel(QStringLiteral("Daybrook"), this);
    name->setObjectName(QStringLiteral("appName"));
    name->setFont(style::titleFont());
    names->addWidget(name, 0, Qt::AlignHCenter);
    auto *version = new ToneLabel(
        aboutVersionLine(QString::fromUtf8(build::version), QString::fromUtf8(build::buildNumber)),
        Tone::Secondary, this);
    version->setObjectName(QStringLiteral("versionLine"));
    version->setFont(style::subheadlineFont());
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    names->addWidget(version, 0, Qt::AlignHCenter);
    layout->addLayout(names);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch(1);
    auto *website = new QPushButton(QStringLiteral("Visit Website"), this);
    website->setObjectName(QStringLiteral("websiteButton"));
    buttons->addWidget(website);
    auto *contact = new QPushButton(QStringLiteral("Contact"), this);
    contact->setObjectName(QStringLiteral("contactButton"));
    buttons->addWidget(contact);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    layout->addSpacing(24);
    layout->addStretch(1);

    connect(website, &QPushButton::clicked, this,
            [] { openExternalAddress(QString::fromUtf8(build::websiteUrl)); });
    connect(contact, &QPushButton::clicked, this,
            [] { openExternalAddress(QString::fromUtf8(build::contactUrl)); });
}

} // namespace daybrook

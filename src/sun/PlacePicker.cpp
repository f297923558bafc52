#include "sun/PlacePicker.h"

#include "sun/SunCalculator.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>

namespace daybrook {

namespace {

// Decimal degrees with either decimal mark; "52.5", "-0,12".
std::optional<double> parseDegrees(QString text) {
    text = text.trimmed().replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

} // namespace

PlacePicker::PlacePicker(const QString &zoneInfoRoot, QWidget *parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Choose a Place"));
    setObjectName(QStringLiteral("placePicker"));
    auto *layout = new QVBoxLayout(this);
    m_search = new QLineEdit;
    m_search->setObjectName(QStringLiteral("placeSearch"));
    m_search->setPlaceholderText(QStringLiteral("Search for a city, country or time zone"));
    m_search->setClearButtonEnabled(true);
    layout->addWidget(m_search);
    m_list = new QListWidget;
    m_list->setObjectName(QStringLiteral("placeList"));
    m_list->addItem(QStringLiteral("Loading places…"));
    layout->addWidget(m_list, 1);

    auto *form = new QFormLayout;
    m_latitude = new QLineEdit;
    m_latitude->setObjectName(QStringLiteral("latitudeField"));
    m_latitude->setPlaceholderText(QStringLiteral("-90 to 90, north positive"));
    m_longitude = new QLineEdit;
    m_longitude->setObjectName(QStringLiteral("longitudeField"));
    m_longitude->setPlaceholderText(QStringLiteral("-180 to 180, east positive"));
    form->addRow(QStringLiteral("Or a latitude:"), m_latitude);
    form->addRow(QStringLiteral("and longitude:"), m_longitude);
    layout->addLayout(form);
    auto *note = new QLabel(QStringLiteral("The place is stored on this computer and sent nowhere."));
    note->setWordWrap(true);
    layout->addWidget(note);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    m_okButton = buttons->button(QDialogButtonBox::Ok);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_search, &QLineEdit::textChanged, this, &PlacePicker::updateMatches);
    connect(m_list, &QListWidget::currentRowChanged, this, &PlacePicker::updateAcceptable);
    connect(m_list, &QListWidget::itemActivated, this, [this] {
        if (m_okButton->isEnabled())
            accept();
    });
    for (QLineEdit *field : {m_latitude, m_longitude})
        connect(field, &QLineEdit::textChanged, this, &PlacePicker::updateAcceptable);
    updateAcceptable();
    resize(420, 460);

    const QPointer<PlacePicker> self(this);
    QThreadPool::globalInstance()->start([self, zoneInfoRoot] {
        const QList<sun::Place> places = sun::tzdataPlaces(zoneInfoRoot);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, places] {
                if (self)
                    self->setPlaces(places);
            },
            Qt::QueuedConnection);
    });
}

void PlacePicker::setCurrentPlace(const sun::Place &place) {
    if (place.zoneId.isEmpty()) {
        const QLocale c = QLocale::c();
        m_latitude->setText(c.toString(place.latitude, 'f', 4));
        m_longitude->setText(c.toString(place.longitude, 'f', 4));
    } else {
        m_search->setText(place.name);
    }
}

void PlacePicker::setPlaces(const QList<sun::Place> &places) {
    m_places = places;
    m_ready = true;
    updateMatches();
    Q_EMIT placesLoaded();
}

void PlacePicker::updateMatches() {
    if (!m_ready)
        return;
    // A few hundred cities: filtering them is far below a frame's time.
    m_matches = sun::searchPlaces(m_places, m_search->text(), 200);
    m_list->clear();
    for (const sun::Place &place : std::as_const(m_matches))
        m_list->addItem(sun::displayName(place) + QStringLiteral("  (") + place.zoneId + QLatin1Char(')'));
    if (m_matches.isEmpty())
        m_list->addItem(QStringLiteral("No place matches"));
    else
        m_list->setCurrentRow(0);
    updateAcceptable();
}

std::optional<sun::Place> PlacePicker::typedPlace() const {
    const auto latitude = parseDegrees(m_latitude->text());
    const auto longitude = parseDegrees(m_longitude->text());
    if (!latitude || !longitude || !sun::isValidPosition(*latitude, *longitude))
        return std::nullopt;
    sun::Place place;
    place.latitude = *latitude;
    place.longitude = *longitude;
    return place;
}

std::optional<sun::Place> PlacePicker::chosenPlace() const {
    if (!m_latitude->text().trimmed().isEmpty() || !m_longitude->text().trimmed().isEmpty())
        return typedPlace();
    const int row = m_list->currentRow();
    if (!m_ready || row < 0 || row >= m_matches.size())
        return std::nullopt;
    return m_matches.at(row);
}

void PlacePicker::updateAcceptable() {
    m_okButton->setEnabled(chosenPlace().has_value());
}

} // namespace daybrook

#pragma once

#include "sun/Places.h"

#include <QDialog>
#include <optional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace daybrook {

// Chooses a place for the sun times without going online: by searching the
// cities of the installed time zone database, or by typing a latitude and a
// longitude. The list is read on a worker thread when the dialog opens.
class PlacePicker : public QDialog {
    Q_OBJECT
public:
    explicit PlacePicker(const QString &zoneInfoRoot, QWidget *parent = nullptr);

    void setCurrentPlace(const sun::Place &place);
    // The selected city, or the typed position when both fields hold one.
    std::optional<sun::Place> chosenPlace() const;
    // True once the city list has arrived.
    bool isReady() const { return m_ready; }

Q_SIGNALS:
    void placesLoaded();

private:
    void setPlaces(const QList<sun::Place> &places);
    void updateMatches();
    void updateAcceptable();
    std::optional<sun::Place> typedPlace() const;

    QList<sun::Place> m_places;
    QList<sun::Place> m_matches;
    bool m_ready = false;
    QLineEdit *m_search;
    QListWidget *m_list;
    QLineEdit *m_latitude;
    QLineEdit *m_longitude;
    QPushButton *m_okButton;
};

} // namespace daybrook

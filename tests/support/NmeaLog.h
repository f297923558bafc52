#pragma once

#include <QByteArray>

namespace daybrook::test {

// One NMEA 0183 sentence: "$" body "*" checksum CR LF.
QByteArray nmeaSentence(const QByteArray &body);

// A receiver's log standing still at one place: one fix (RMC and GGA) every
// fifth of a second, which is how fast Qt's NMEA replay hands them out.
QByteArray nmeaTrack(double latitude, double longitude, int fixes);

} // namespace daybrook::test

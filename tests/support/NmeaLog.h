#pragma once

#include <QByteArray>

namespace daybrook::test {

// A receiver's log standing still at one place: one fix (RMC, NMEA
// 0183 with checksums) every fifth of a second, which is how fast Qt's NMEA
// replay hands them out.
QByteArray nmeaTrack(double latitude, double longitude, int fixes);

} // namespace daybrook::test

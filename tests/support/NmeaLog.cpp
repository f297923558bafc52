#include "support/NmeaLog.h"

#include <QString>
#include <QTime>
#include <cmath>

namespace daybrook::test {

namespace {

QByteArray angle(double degrees, int degreeDigits) {
    const double magnitude = std::abs(degrees);
    const int whole = static_cast<int>(magnitude);
    return QByteArray::number(whole).rightJustified(degreeDigits, '0') +
           QByteArray::number((magnitude - whole) * 60.0, 'f', 4).rightJustified(7, '0');
}

} // namespace

QByteArray nmeaSentence(const QByteArray &body) {
    quint8 sum = 0;
    for (const char c : body)
        sum ^= static_cast<quint8>(c);
    return '$' + body + '*' + QByteArray::number(sum, 16).toUpper().rightJustified(2, '0') + "\r\n";
}

QByteArray nmeaTrack(double latitude, double longitude, int fixes) {
    QByteArray text;
    for (int i = 0; i < fixes; ++i) {
        const QTime time = QTime(12, 0).addMSecs(200 * i);
        const QByteArray stamp = time.toString(QStringLiteral("HHmmss.zzz")).left(9).toLatin1();
        const QByteArray lat = angle(latitude, 2) + (latitude < 0 ? ",S" : ",N");
        const QByteArray lon = angle(longitude, 3) + (longitude < 0 ? ",W" : ",E");
        text += nmeaSentence("GPRMC," + stamp + ",A," + lat + ',' + lon + ",0.0,0.0,210626,,,A");
        text += nmeaSentence("GPGGA," + stamp + ',' + lat + ',' + lon + ",1,08,0.9,34.0,M,0.0,M,,");
    }
    return text;
}

} // namespace daybrook::test

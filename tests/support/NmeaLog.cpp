#include "support/NmeaLog.h"

#include <QTime>
#include <cmath>

namespace daybrook::test {

QByteArray nmeaTrack(double latitude, double longitude, int fixes) {
    const auto angle = [](double degrees, int degreeDigits, const char *hemispheres) {
        const int whole = static_cast<int>(std::abs(degrees));
        return QByteArray::number(whole).rightJustified(degreeDigits, '0') +
               QByteArray::number((std::abs(degrees) - whole) * 60.0, 'f', 4).rightJustified(7, '0') + ',' +
               hemispheres[degrees < 0 ? 1 : 0];
    };
    QByteArray text;
    for (int i = 0; i < fixes; ++i) {
        const QByteArray body =
            "GPRMC," + QTime(12, 0).addMSecs(200 * i).toString("HHmmss.zzz").left(9).toLatin1() + ",A," +
            angle(latitude, 2, "NS") + ',' + angle(longitude, 3, "EW") + ",0.0,0.0,210626,,,A";
        quint8 sum = 0;
        for (const char c : body)
            sum ^= static_cast<quint8>(c);
        text += '$' + body + '*' + QByteArray::number(sum, 16).toUpper().rightJustified(2, '0') + "\r\n";
    }
    return text;
}

} // namespace daybrook::test

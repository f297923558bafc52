#include "support/NmeaLog.h"

#include <QString>
#include <QTime>
#include <cmath>

namespace daybrook::test {

QByteArray nmeaTrack(double latitude, double longitude, int fixes) {
    const auto angle = [](double degrees, int degreeDigits, const char *hemispheres) {
        const double magnitude = std::abs(degrees);
        const int whole = static_cast<int>(magnitude);
        return QByteArray::number(whole).rightJustified(degreeDigits, '0') +
               QByteArray::number((magnitude - whole) * 60.0, 'f', 4).rightJustified(7, '0') + ',' +
               hemispheres[degrees < 0 ? 1 : 0];
    };
    const auto sentence = [](const QByteArray &body) {
        quint8 sum = 0;
        for (const char c : body)
            sum ^= static_cast<quint8>(c);
        return '$' + body + '*' + QByteArray::number(sum, 16).toUpper().rightJustified(2, '0') + "\r\n";
    };
    QByteArray text;
    for (int i = 0; i < fixes; ++i) {
        const QByteArray stamp =
            QTime(12, 0).addMSecs(200 * i).toString(QStringLiteral("HHmmss.zzz")).left(9).toLatin1();
        const QByteArray place = angle(latitude, 2, "NS") + ',' + angle(longitude, 3, "EW");
        text += sentence("GPRMC," + stamp + ",A," + place + ",0.0,0.0,210626,,,A");
    }
    return text;
}

} // namespace daybrook::test

// Colour texts and the theme's adjustments, against values computed
// independently (Python's colorsys on the same inputs).
#include "bar/BarTheme.h"
#include "bar/NightSky.h"

#include <QTest>

using namespace daybrook;

namespace {
bool near(const Color &c, double r, double g, double b, double a = 1) {
    constexpr double eps = 1e-6;
    return qAbs(c.red - r) < eps && qAbs(c.green - g) < eps && qAbs(c.blue - b) < eps &&
           qAbs(c.alpha - a) < eps;
}

QByteArray describe(const Color &c) {
    return QByteArray::number(c.red, 'g', 10) + ", " + QByteArray::number(c.green, 'g', 10) + ", " +
           QByteArray::number(c.blue, 'g', 10) + ", " + QByteArray::number(c.alpha, 'g', 10);
}

#define VERIFY_COLOR(c, ...) QVERIFY2(near(c, __VA_ARGS__), describe(c).constData())
} // namespace

class TestBarTheme : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsHexColourTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("red");
        QTest::addColumn<double>("green");
        QTest::addColumn<double>("blue");
        const double r = 1, g = 107 / 255.0, b = 107 / 255.0;
        QTest::newRow("hash") << QStringLiteral("#FF6B6B") << r << g << b;
        QTest::newRow("lower case") << QStringLiteral("#ff6b6b") << r << g << b;
        QTest::newRow("blanks around") << QStringLiteral("  #FF6B6B \n") << r << g << b;
        QTest::newRow("three digits") << QStringLiteral("#F6B") << 1.0 << 1.0 << 1.0;
        QTest::newRow("empty") << QString() << 1.0 << 1.0 << 1.0;
        QTest::newRow("not hexadecimal") << QStringLiteral("#GHIJKL") << 0.0 << 0.0 << 0.0;
        QTest::newRow("stops at a non-digit") << QStringLiteral("12XY34") << 0.0 << 0.0 << 0x12 / 255.0;
        QTest::newRow("0x prefix") << QStringLiteral("0x1234") << 0.0 << 0x12 / 255.0 << 0x34 / 255.0;
    }

    void readsHexColourTexts() {
        QFETCH(QString, text);
        QFETCH(double, red);
        QFETCH(double, green);
        QFETCH(double, blue);
        VERIFY_COLOR(hexColor(text), red, green, blue, 1);
    }

    void adjustsEntryColoursByStatus() {
        const BarTheme dark(true), light(false);
        const Color red = Color::rgb(1, 0, 0);
        // Pure red, current, dark: saturation 0.7, brightness 1; hovered: back to full.
        VERIFY_COLOR(dark.entryColor(red, EntryTimeStatus::Current, false), 1, 0.3, 0.3);
        VERIFY_COLOR(dark.entryColor(red, EntryTimeStatus::Current, true), 1, 0, 0);
        // Hue 0.6, saturation 0.8, brightness 0.5, past: saturation 0.28, brightness 0.8.
        const Color blueish = fromHsb({0.6, 0.8, 0.5, 1});
        VERIFY_COLOR(light.entryColor(blueish, EntryTimeStatus::Past, false), 0.576, 0.6656, 0.8);
        const Color google = hexColor(u"#4285F4");
        VERIFY_COLOR(light.entryColor(google, EntryTimeStatus::Future, false), 0.6352459016393444,
                     0.7725409836065573, 1);
        VERIFY_COLOR(dark.entryColor(hexColor(u"#8E24AA"), EntryTimeStatus::Past, false), 0.9109411764705881,
                     0.6999803921568627, 0.9666666666666666);
        // Opacity survives the adjustments.
        QCOMPARE(light.entryColor(google.withAlpha(0.4), EntryTimeStatus::Future, true).alpha, 0.4);
    }

    void derivesLabelHandAndProgressColours() {
        const Color odd = Color::invalid();
        for (bool darkMode : {false, true}) {
            for (auto status : {EntryTimeStatus::Past, EntryTimeStatus::Current, EntryTimeStatus::Future})
                QCOMPARE(BarTheme(darkMode).entryColor(odd, status, true), odd);
        }
        QVERIFY(near(BarTheme::entryLabelColor(odd), 0.2, 0.2, 0.2, 1));
        VERIFY_COLOR(BarTheme::entryLabelColor(hexColor(u"#8E24AA")), 0.22274509803921566,
                     0.056470588235294154, 0.26666666666666666);
        VERIFY_COLOR(BarTheme(false).clockHandColor(true), 1, 0.05345375148868592, 0.03144104803493453);
        VERIFY_COLOR(BarTheme(true).clockHandColor(true), 1, 0.219607843137255, 0.219607843137255);
        const QLinearGradient progress = BarTheme(true).progressGradient().toLinearGradient(10, 110);
        QCOMPARE(progress.start(), QPointF(10, 0));
        QCOMPARE(progress.finalStop(), QPointF(110, 0));
    }

    void makesTheSameSkyFromTheSameSeed() {
        const QList<Star> stars = makeStars(80, 42);
        QCOMPARE(stars.size(), 80);
        QVERIFY(qAbs(stars[1].x - 0.30690574) < 1e-8);
        QVERIFY(qAbs(stars[1].y - 0.54724042) < 1e-8);
        QVERIFY(qAbs(stars[1].size - 0.61008143) < 1e-8);
        QVERIFY(qAbs(stars[1].brightness - 0.74556542) < 1e-8);
        const QList<Star> again = makeStars(80, 42);
        for (qsizetype i = 0; i < stars.size(); ++i) {
            QCOMPARE(again[i].x, stars[i].x);
            QVERIFY(stars[i].size >= 0.3 && stars[i].size <= 0.8);
            QVERIFY(stars[i].brightness >= 0.4 && stars[i].brightness <= 1.0);
        }
        // A zero seed would never finish a draw: it still gives a sky.
        QCOMPARE(makeStars(3, 0).size(), 3);
        QVERIFY(makeStars(-1, 42).isEmpty());
    }
};

QTEST_APPLESS_MAIN(TestBarTheme)
#include "test_bar_theme.moc"

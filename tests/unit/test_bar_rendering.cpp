// The bar's picture, painted by the renderer at known states: where the band
// is, what lies left and right of the clock, where the hand and the stars are,
// how an overlap group is split into bands, labels and their emoji; and the
// theme's colours against values computed independently (Python's colorsys).
#include "bar/BarRenderer.h"
#include "bar/BarTheme.h"
#include "bar/NightSky.h"
#include "core/Clock.h"
#include "state/AppState.h"
#include "support/TestEnvironment.h"

#include <QImage>
#include <QPainter>
#include <QTest>
#include <memory>

using namespace daybrook;
using daybrook::test::barEntry;

namespace {
QDateTime at(int hour, int minute = 0) {
    return test::localTime(hour, minute, 0, test::barDay);
}

// The first and last row that is drawn in column x.
std::pair<int, int> band(const QImage &image, int x) {
    int first = -1, last = -1;
    for (int y = 0; y < image.height(); ++y)
        if (qAlpha(image.pixel(x, y)) != 0)
            std::tie(first, last) = std::pair(first < 0 ? y : first, y);
    return {first, last};
}

bool isRed(QRgb c) {
    return qAlpha(c) > 200 && qRed(c) > 200 && qGreen(c) < 120 && qBlue(c) < 120;
}

// Red, green, blue and alpha, printed when they differ.
bool same(const Color &v, double r, double g, double b, double a = 1) {
    const double off = qAbs(v.red - r) + qAbs(v.green - g) + qAbs(v.blue - b) + qAbs(v.alpha - a);
    return off < 1e-6 || (qWarning("%.9f %.9f %.9f %.9f", v.red, v.green, v.blue, v.alpha), false);
}
} // namespace

class TestBarRendering : public QObject {
    Q_OBJECT

    std::unique_ptr<AppState> m_app;
    std::unique_ptr<BarState> m_state;
    std::unique_ptr<BarRenderer> m_renderer;

    QImage grab() {
        QImage image(width(), 150, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        m_renderer->paint(painter, state(), BarVisuals::settled(state()));
        return image.convertToFormat(QImage::Format_ARGB32);
    }

    BarState &state() { return *m_state; }
    static constexpr int width() { return 1450; }
    void setEntries(const TimeEntryList &entries) { state().setPreviewData(BarPreviewData{entries}); }

private Q_SLOTS:
    void init() {
        test::setTimeZone("Europe/Berlin");
        test::resetUserDefaults();
        Clock::freezeAt(at(14));
        m_app = std::make_unique<AppState>();
        m_app->setAppearanceMode(AppearanceMode::Light);
        m_state = std::make_unique<BarState>();
        m_state->setAppState(m_app.get());
        m_state->setFrame(QRectF(0, 0, width(), 150));
        m_renderer = std::make_unique<BarRenderer>();
    }

    void cleanup() { Clock::reset(); }

    void drawsTheBandAtEachHeight() {
        QImage image;
        for (const auto &[expanded, leaving, top, bottom] :
             {std::tuple{false, false, 22, 27}, {true, false, 9, 40}, {true, true, 13, 36}}) {
            state().setIsExpanded(expanded);
            state().setIsLeaving(leaving);
            image = grab();
            QCOMPARE(band(image, width() - 30), std::pair(top, bottom)); // away from the hand
        }
        // The hand stays centred on y 25 throughout.
        const int hand = int(BarRenderer::handX(state()));
        QVERIFY(isRed(image.pixel(hand, 13)) && isRed(image.pixel(hand, 37)));
        // Collapsed the hand is a dot of 14, reaching past the 6-px band.
        state().setIsExpanded(false);
        image = grab();
        QVERIFY(isRed(image.pixel(hand, 19)) && isRed(image.pixel(hand, 31)));
        QVERIFY(qAlpha(image.pixel(hand, 16)) == 0 && qAlpha(image.pixel(hand, 34)) == 0);
    }

    void fillsThePastUpToTheHand() {
        for (const auto &[time, dark] :
             {std::pair{at(5), false}, {at(14), false}, {at(14), true}, {at(23), true}}) {
            m_app->setAppearanceMode(dark ? AppearanceMode::Dark : AppearanceMode::Light);
            state().setCurrentTime(time);
            const QImage image = grab();
            const int hand = std::clamp(int(state().xPosition(time)), 0, width() - 1);
            QVERIFY(isRed(image.pixel(hand, 25)));
            // The opaque progress fill (blue above green) left of the hand,
            // the translucent sky right of it.
            const QRgb past = image.pixel(hand / 2, 25), ahead = image.pixel((hand + width()) / 2, 25);
            QVERIFY(hand < 40 || (qAlpha(past) == 255 && qBlue(past) > qGreen(past)));
            QVERIFY(hand > width() - 40 || (dark ? qBlue(ahead) > qRed(ahead) : qAlpha(ahead) < 255));
        }
    }

    void putsStarsWhereTheSeedPutsThem() {
        // 00:00 to 23:00, no sun times: night until 05:00, starry in dark mode.
        m_app->setDayStartHour(0);
        m_app->setDayEndHour(23);
        m_app->setAppearanceMode(AppearanceMode::Dark);
        state().setCurrentTime(at(0, 1));
        state().setIsExpanded(true);
        const QImage image = grab();
        const int nightEnd = int(state().hourX(5)) - 4;
        int plain = 255; // the darkest night between the stars
        for (int x = 30; x < nightEnd; ++x)
            plain = std::min(plain, qGray(image.pixel(x, 25)));
        int inside = 0;
        for (const Star &s : makeStars(barStarCount, barStarSeed)) {
            const QPoint p(int(s.x * width()), int(s.y * 32 + 9));
            if (p.x() >= 15 && p.y() > 10 && p.y() < 39 && p.x() < nightEnd && ++inside)
                QVERIFY(qGray(image.pixel(p)) > plain + 15);
        }
        QVERIFY(inside >= 5);
    }

    void splitsAGroupIntoEqualBands() {
        setEntries({barEntry("a", 900, 1200, "#FF0000"), barEntry("b", 930, 1100, "#00C000"),
                    barEntry("c", 1000, 1030, "#0000FF"), barEntry("alone", 1600, 1700, "#FF0000"),
                    barEntry("grey", 1800, 2100, "#808080", QStringLiteral("\u2615 Coffee"))});
        state().setIsExpanded(true);
        const QImage image = grab();
        const int x = int(state().xPosition(at(10, 20)));
        // Three bands of 32 / 3 from y 9: red, green, blue from the top.
        const QRgb top = image.pixel(x, 14), middle = image.pixel(x, 25), bottom = image.pixel(x, 36);
        QVERIFY(qRed(top) > qGreen(top) + 40 && qRed(top) > qBlue(top) + 40);
        QVERIFY(qGreen(middle) > qRed(middle) + 40 && qGreen(middle) > qBlue(middle) + 40);
        QVERIFY(qBlue(bottom) > qRed(bottom) + 40 && qBlue(bottom) > qGreen(bottom) + 40);
        // An entry alone keeps the full height.
        const int lone = int(state().xPosition(at(16, 30)));
        for (int y : {11, 25, 38})
            QVERIFY(qRed(image.pixel(lone, y)) > qGreen(image.pixel(lone, y)) + 40);
        // Any coloured pixel on the grey entry comes from its emoji, drawn in colour.
        int coloured = 0;
        for (int px = int(state().xPosition(at(18))); px < int(state().xPosition(at(18, 30))); ++px)
            for (int y = 12; y < 38; ++y)
                coloured += qAbs(qRed(image.pixel(px, y)) - qBlue(image.pixel(px, y))) > 24 ||
                            qAbs(qGreen(image.pixel(px, y)) - qBlue(image.pixel(px, y))) > 24;
        QVERIFY2(coloured > 5, qPrintable(QString::number(coloured)));
    }

    void reducesCollapsedLabelsToTheirEmoji() {
        // A ZWJ family and a keycap are one character each; a text-style
        // symbol is emoji only with the emoji selector; digits are not.
        const QList<std::pair<QString, QString>> cases{
            {QStringLiteral("\u2615 Coffee"), QStringLiteral("\u2615")},
            {QStringLiteral("\U0001F3C3 run \U0001F3B8"), QStringLiteral("\U0001F3C3\U0001F3B8")},
            {QStringLiteral("x\U0001F468\u200D\U0001F469\u200D\U0001F467"),
             QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467")},
            {QStringLiteral("Call 1\uFE0F\u20E3"), QStringLiteral("1\uFE0F\u20E3")},
            {QStringLiteral("Hi \u263A\uFE0F"), QStringLiteral("\u263A\uFE0F")},
            {QStringLiteral("Room 42 #3"), QStringLiteral("Room 42 #3")}};
        for (const auto &[label, collapsed] : cases) {
            QCOMPARE(BarRenderer::displayLabel(label, false, true), collapsed);
            QCOMPARE(BarRenderer::displayLabel(label, true, false), label);
            QVERIFY(BarRenderer::displayLabel(label, false, false).isEmpty());
        }
        QCOMPARE(BarRenderer::characterCount(cases[2].second + cases[3].second), 2);
    }

    void shrinksLabelsToFit() {
        const QList<std::tuple<double, double, int, double>> cases{
            {6, 100, 1, 6},    {32, 60, 12, 15.6},   {32, 60, 40, 15.6}, {32.0 / 3, 100, 5, 32.0 / 3 - 1},
            {12, 500, 3, 5.6}, {11.9, 500, 3, 10.9}, {60, 500, 3, 20},   {32, 10, 0, 8 / 0.55}};
        for (const auto &[rowHeight, width, count, size] : cases)
            QVERIFY(qAbs(BarRenderer::labelFontSize(rowHeight, width, count) - size) < 1e-9);
        QVERIFY(BarRenderer::labelFontSize(32, 2, 4) <= 0); // nothing to draw in a 2-px block
    }

    // Repaints cost the same with any number of entries: the blocks are laid
    // out once per change of entries, width, theme or bar state.
    void laysOutEntriesOncePerChange() {
        TimeEntryList entries;
        for (int i = 0; i < 300; ++i)
            entries.append(
                barEntry(QStringLiteral("e%1").arg(i), 900 + i % 10 * 100, 1030 + i % 10 * 100, "#FF0000"));
        setEntries(entries);
        const auto paint = [&] { return grab(), m_renderer->entryLayoutCount(); };
        QCOMPARE(paint(), 1);
        state().updateHover(HoveredElement::entry(QStringLiteral("e5"), 100), true);
        state().setCurrentTime(at(14).addSecs(30)); // no entry starts or ends
        QCOMPARE(paint(), 1);
        state().setCurrentTime(at(15)); // some entries start, others end
        QCOMPARE(paint(), 2);
        m_app->setAppearanceMode(AppearanceMode::Dark);
        QCOMPARE(paint(), 3);
        state().setIsExpanded(true);
        QCOMPARE(paint(), 4);
        const QPointF point(state().xPosition(at(9, 40)), 20);
        QVERIFY(m_renderer->hitTest(state(), BarVisuals::settled(state()), point).entryId);
        QCOMPARE(paint(), 4);
    }

    void readsHexColourTexts() {
        const double r = 1, g = 107 / 255.0;
        const QList<std::tuple<const char *, double, double, double>> cases{
            {"#ff6b6b", r, g, g},
            {"  #FF6B6B \n", r, g, g},
            {"#F6B", 1, 1, 1},
            {"", 1, 1, 1},
            {"#GHIJKL", 0, 0, 0},
            {"12XY34", 0, 0, 0x12 / 255.0},
            {"0x1234", 0, 0x12 / 255.0, 0x34 / 255.0}};
        for (const auto &[text, red, green, blue] : cases)
            QVERIFY(same(hexColor(QString::fromLatin1(text)), red, green, blue));
    }

    // Expected values computed independently of the theme.
    void derivesEntryLabelAndHandColours() {
        const BarTheme dark(true), light(false);
        const Color google = hexColor(u"#4285F4"), purple = hexColor(u"#8E24AA"), odd = Color::invalid();
        // Pure red, current, dark: saturation 0.7, brightness 1; hovered: back to full.
        QVERIFY(same(dark.entryColor(Color::rgb(1, 0, 0), EntryTimeStatus::Current, false), 1, 0.3, 0.3));
        QVERIFY(same(dark.entryColor(Color::rgb(1, 0, 0), EntryTimeStatus::Current, true), 1, 0, 0));
        // Hue 0.6, saturation 0.8, brightness 0.5, past: saturation 0.28, brightness 0.8.
        QVERIFY(same(light.entryColor(fromHsb({0.6, 0.8, 0.5, 1}), EntryTimeStatus::Past, false), 0.576,
                     0.6656, 0.8));
        QVERIFY(same(light.entryColor(google, EntryTimeStatus::Future, false), 0.6352459016393444,
                     0.7725409836065573, 1));
        QVERIFY(same(dark.entryColor(purple, EntryTimeStatus::Past, false), 0.9109411764705881,
                     0.6999803921568627, 0.9666666666666666));
        // Opacity survives the adjustments.
        QCOMPARE(light.entryColor(google.withAlpha(0.4), EntryTimeStatus::Future, true).alpha, 0.4);
        for (auto status : {EntryTimeStatus::Past, EntryTimeStatus::Current, EntryTimeStatus::Future})
            QVERIFY(dark.entryColor(odd, status, true) == odd && light.entryColor(odd, status, false) == odd);
        QVERIFY(same(BarTheme::entryLabelColor(odd), 0.2, 0.2, 0.2));
        QVERIFY(same(BarTheme::entryLabelColor(purple), 0.22274509803921566, 0.056470588235294154,
                     0.26666666666666666));
        QVERIFY(same(light.clockHandColor(true), 1, 0.05345375148868592, 0.03144104803493453));
        QVERIFY(same(dark.clockHandColor(true), 1, 0.219607843137255, 0.219607843137255));
        const QLinearGradient progress = dark.progressGradient().toLinearGradient(10, 110);
        QVERIFY(progress.start() == QPointF(10, 0) && progress.finalStop() == QPointF(110, 0));
    }

    void makesTheSameSkyFromTheSameSeed() {
        // Fixed values for a fixed seed: the same sky at every start, each value
        // scaled into its own range.
        const QList<Star> stars = makeStars(80, 42);
        const Star &s = stars[1];
        QVERIFY(qAbs(s.x - 0.30690574) + qAbs(s.y - 0.54724042) + qAbs(s.size - 0.61008143) +
                    qAbs(s.brightness - 0.74556542) <
                1e-7);
        // A zero seed would never finish a draw: it still gives a sky.
        QVERIFY(makeStars(3, 0).size() == 3 && makeStars(-1, 42).isEmpty());
    }
};

QTEST_MAIN(TestBarRendering)
#include "test_bar_rendering.moc"

// The panel's picture, grabbed offscreen at known states: where the bar band
// is, what lies left and right of the clock, where the hand and the stars are,
// how an overlap group is split into bands, and a reversed day range.
#include "bar/BarRenderer.h"
#include "bar/FloatingBarPanel.h"
#include "bar/NightSky.h"
#include "core/Clock.h"
#include "state/AppState.h"
#include "support/TestEnvironment.h"

#include <QGuiApplication>
#include <QImage>
#include <QTest>
#include <memory>

using namespace daybrook;
using daybrook::test::localTime;

namespace {
const QDate day(2026, 6, 10);

QDateTime at(int hour, int minute = 0) {
    return localTime(hour, minute, 0, day);
}

TimeEntry block(const QString &id, int h1, int m1, int h2, int m2, const char *colour) {
    // No label, so that nothing covers the block's fill.
    return CalendarEntry{
        id, at(h1, m1), at(h2, m2), QString(), hexColor(QString::fromLatin1(colour)), std::nullopt};
}

bool transparent(const QImage &image, int x, int y) {
    return qAlpha(image.pixel(x, y)) == 0;
}

// The first and last row that is drawn in column x.
std::pair<int, int> band(const QImage &image, int x) {
    int first = -1, last = -1;
    for (int y = 0; y < image.height(); ++y) {
        if (!transparent(image, x, y)) {
            if (first < 0)
                first = y;
            last = y;
        }
    }
    return {first, last};
}

bool isRed(QRgb c) {
    return qAlpha(c) > 200 && qRed(c) > 200 && qGreen(c) < 120 && qBlue(c) < 120;
}
} // namespace

class TestBarRendering : public QObject {
    Q_OBJECT

    std::unique_ptr<AppState> m_app;
    std::unique_ptr<FloatingBarPanel> m_panel;

    QImage grab() {
        m_panel->settleAnimations();
        return m_panel->picture();
    }

    BarState &state() { return *m_panel->barState(); }
    int width() const { return m_panel->width(); }

private Q_SLOTS:
    void initTestCase() { test::setTimeZone("Europe/Berlin"); }

    void init() {
        test::resetUserDefaults();
        Clock::freezeAt(at(14));
        m_app = std::make_unique<AppState>();
        m_app->setAppearanceMode(AppearanceMode::Light);
        m_panel = std::make_unique<FloatingBarPanel>(m_app.get(), QGuiApplication::primaryScreen());
        QVERIFY(width() > 400);
        QCOMPARE(m_panel->picture().height(), 150);
    }

    void cleanup() {
        m_panel.reset();
        m_app.reset();
        Clock::reset();
    }

    void drawsTheBandAtEachHeight() {
        const int x = width() - 30; // away from the hand
        QImage image = grab();
        QCOMPARE(band(image, x), std::make_pair(22, 27));
        m_panel->expand();
        image = grab();
        QCOMPARE(band(image, x), std::make_pair(9, 40));
        state().setIsLeaving(true);
        image = grab();
        QCOMPARE(band(image, x), std::make_pair(13, 36));
        // The hand stays centred on y 25 throughout.
        const int hand = int(BarRenderer::handX(state()));
        QVERIFY(isRed(image.pixel(hand, 25)));
        QVERIFY(isRed(image.pixel(hand, 13)) && isRed(image.pixel(hand, 37)));
        // Collapsed the hand is a dot of 14, reaching past the 6-px band.
        m_panel->collapse();
        image = grab();
        QVERIFY(isRed(image.pixel(hand, 19)) && isRed(image.pixel(hand, 31)));
        QVERIFY(transparent(image, hand, 16) && transparent(image, hand, 34));
    }

    void fillsThePastAndShowsTheSkyAhead() {
        // 14:00 on 7 to 21: the clock is at the middle of the bar.
        const int hand = int(BarRenderer::handX(state()));
        QVERIFY(qAbs(hand - width() * 7.25 / 14.5) < 1);
        QImage image = grab();
        const QRgb past = image.pixel(hand / 2, 25), ahead = image.pixel(hand + (width() - hand) / 2, 25);
        QCOMPARE(qAlpha(past), 255);                         // the progress fill is opaque
        QVERIFY(qAlpha(ahead) < 255 && qAlpha(ahead) > 100); // the translucent base
        // Light fill is a pale lilac: blue above green.
        QVERIFY(qBlue(past) > qGreen(past));

        m_app->setAppearanceMode(AppearanceMode::Dark);
        image = grab();
        const QRgb darkPast = image.pixel(hand / 2, 25),
                   darkAhead = image.pixel(hand + (width() - hand) / 2, 25);
        QCOMPARE(qAlpha(darkPast), 255);
        QVERIFY(qBlue(darkPast) > 120 && qRed(darkPast) < 110);
        // Ahead: the deep blue tint over the base, darker than the fill.
        QVERIFY(qBlue(darkAhead) > qRed(darkAhead));
        QVERIFY(qGray(darkAhead) < qGray(darkPast));
    }

    void placesTheHandAtTheCurrentTime() {
        struct Case {
            QDateTime time;
            int expected;
        };
        const Case cases[] = {{at(5), 0}, {at(14), int(width() * 7.25 / 14.5)}, {at(23), width() - 1}};
        for (const Case &c : cases) {
            state().setCurrentTime(c.time);
            const QImage image = grab();
            QVERIFY2(isRed(image.pixel(c.expected, 25)), qPrintable(c.time.toString()));
            // The fill ends where the hand is.
            if (c.expected == 0)
                QVERIFY(qAlpha(image.pixel(width() / 2, 25)) < 255);
            if (c.expected == width() - 1)
                QCOMPARE(qAlpha(image.pixel(width() / 2, 25)), 255);
        }
    }

    void putsStarsWhereTheSeedPutsThem() {
        // 00:00 to 23:00, no sun times: night until 05:00 and after 23:00.
        m_app->setDayStartHour(0);
        m_app->setDayEndHour(23);
        m_app->setAppearanceMode(AppearanceMode::Dark);
        state().setCurrentTime(at(0, 1));
        m_panel->expand();
        const QImage image = grab();
        const double w = width(), top = 9, h = 32;
        const double nightEnd = state().hourX(5);
        const QList<Star> stars = makeStars(barStarCount, barStarSeed);
        // A spot far from every star shows the plain night.
        const auto farFromStars = [&](double x, double y) {
            for (const Star &s : stars)
                if (qAbs(s.x * w - x) < 6 && qAbs(s.y * h + top - y) < 6)
                    return false;
            return true;
        };
        QRgb plain = 0;
        for (int x = 30; x < nightEnd - 5 && !plain; ++x)
            if (farFromStars(x, 25))
                plain = image.pixel(x, 25);
        QVERIFY(plain != 0);

        int inside = 0, outside = 0;
        for (const Star &s : stars) {
            const QPoint p(int(s.x * w), int(s.y * h + top));
            if (p.x() < 15 || p.y() <= 10 || p.y() >= 39)
                continue; // under the hand or on the band's edge
            const QRgb c = image.pixel(p);
            if (p.x() < nightEnd - 4) {
                ++inside;
                QVERIFY2(qGray(c) > qGray(plain) + 15,
                         qPrintable(QStringLiteral("star at %1,%2").arg(p.x()).arg(p.y())));
            } else if (p.x() > nightEnd + 4 && p.x() < state().hourX(23) - 4 && p.x() % 1 == 0) {
                // Daytime: no star shows (ticks aside).
                bool nearTick = false;
                for (int hour = 0; hour <= 23; ++hour)
                    nearTick = nearTick || qAbs(state().hourX(hour) - p.x()) < 3;
                if (!nearTick) {
                    ++outside;
                    QVERIFY(qGray(c) < qGray(plain) + 8);
                }
            }
        }
        QVERIFY(inside >= 5);
        QVERIFY(outside >= 5);
    }

    void splitsAGroupIntoEqualBands() {
        BarPreviewData data;
        data.entries = {block(QStringLiteral("a"), 9, 0, 12, 0, "#FF0000"),
                        block(QStringLiteral("b"), 9, 30, 11, 0, "#00C000"),
                        block(QStringLiteral("c"), 10, 0, 10, 30, "#0000FF"),
                        block(QStringLiteral("alone"), 16, 0, 17, 0, "#FF0000")};
        state().setPreviewData(data);
        m_panel->expand();
        const QImage image = grab();
        const int x = int(state().xPosition(at(10, 20)));
        // Three bands of 32 / 3 from y 9: red, green, blue from the top.
        const QRgb top = image.pixel(x, 14), middle = image.pixel(x, 25), bottom = image.pixel(x, 36);
        QVERIFY(qRed(top) > qGreen(top) + 40 && qRed(top) > qBlue(top) + 40);
        QVERIFY(qGreen(middle) > qRed(middle) + 40 && qGreen(middle) > qBlue(middle) + 40);
        QVERIFY(qBlue(bottom) > qRed(bottom) + 40 && qBlue(bottom) > qGreen(bottom) + 40);
        // Before b and c start only a's top band is filled.
        const int early = int(state().xPosition(at(9, 15)));
        QVERIFY(qRed(image.pixel(early, 14)) > qGreen(image.pixel(early, 14)) + 40);
        QVERIFY(qAbs(qRed(image.pixel(early, 30)) - qGreen(image.pixel(early, 30))) < 30);
        // An entry alone keeps the full height.
        const int lone = int(state().xPosition(at(16, 30)));
        for (int y : {11, 25, 38})
            QVERIFY(qRed(image.pixel(lone, y)) > qGreen(image.pixel(lone, y)) + 40);
    }

    void drawsAReversedDayRange() {
        m_app->setDayStartHour(22);
        m_app->setDayEndHour(6);
        BarPreviewData data;
        data.entries = {block(QStringLiteral("a"), 9, 0, 12, 0, "#FF0000")};
        state().setPreviewData(data);
        m_panel->expand();
        m_panel->barState()->updateHover(HoveredElement::tick(23), true);
        const QImage image = grab();
        // The bar spans 05:45 to 22:15 and shows the entry.
        QCOMPARE(band(image, width() - 40), std::make_pair(9, 40));
        QVERIFY(qRed(image.pixel(int(state().xPosition(at(10, 30))), 25)) > 200);
        // An hour outside the drawn range gets its tooltip at the edge.
        QVERIFY(state().activeTooltip());
        QCOMPARE(state().activeTooltip()->x(), double(width()));
    }

    void reducesCollapsedLabelsToTheirEmoji_data() {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("collapsed");
        QTest::newRow("cup, blank, word") << QStringLiteral("\u2615 Coffee") << QStringLiteral("\u2615");
        QTest::newRow("no emoji") << QStringLiteral("Standup") << QStringLiteral("Standup");
        QTest::newRow("two, in order")
            << QStringLiteral("\U0001F3C3 run \U0001F3B8") << QStringLiteral("\U0001F3C3\U0001F3B8");
        // A family joined by ZWJ and a flag are one character each.
        QTest::newRow("zwj sequence") << QStringLiteral("x\U0001F468\u200D\U0001F469\u200D\U0001F467")
                                      << QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");
        QTest::newRow("flag") << QStringLiteral("Trip \U0001F1EB\U0001F1F7")
                              << QStringLiteral("\U0001F1EB\U0001F1F7");
        QTest::newRow("keycap") << QStringLiteral("Call 1\uFE0F\u20E3") << QStringLiteral("1\uFE0F\u20E3");
        // A text-style symbol alone is not emoji; with the emoji selector it is.
        QTest::newRow("text smiley") << QStringLiteral("Hi \u263A") << QStringLiteral("Hi \u263A");
        QTest::newRow("emoji smiley") << QStringLiteral("Hi \u263A\uFE0F") << QStringLiteral("\u263A\uFE0F");
        QTest::newRow("digits are not") << QStringLiteral("Room 42 #3") << QStringLiteral("Room 42 #3");
    }

    void reducesCollapsedLabelsToTheirEmoji() {
        QFETCH(QString, label);
        QFETCH(QString, collapsed);
        QCOMPARE(BarRenderer::displayLabel(label, false, true), collapsed);
        QCOMPARE(BarRenderer::displayLabel(label, true, true), label);
        QCOMPARE(BarRenderer::displayLabel(label, true, false), label);
        QVERIFY(BarRenderer::displayLabel(label, false, false).isEmpty());
    }

    void shrinksLabelsToFit() {
        const QString cup = BarRenderer::displayLabel(QStringLiteral("\u2615 Coffee"), false, true);
        QCOMPARE(BarRenderer::characterCount(cup), 1);
        QCOMPARE(BarRenderer::labelFontSize(6, 100, 1), 6.0);
        QVERIFY(qAbs(BarRenderer::labelFontSize(32, 60, 12) - 15.6) < 1e-9);
        QVERIFY(qAbs(BarRenderer::labelFontSize(32, 60, 40) - 15.6) <
                1e-9); // width uses at most 6 characters
        QVERIFY(qAbs(BarRenderer::labelFontSize(32.0 / 3, 100, 5) - (32.0 / 3 - 1)) < 1e-9);
        QVERIFY(qAbs(BarRenderer::labelFontSize(12, 500, 3) - 5.6) < 1e-9);
        QVERIFY(qAbs(BarRenderer::labelFontSize(11.9, 500, 3) - 10.9) < 1e-9);
        QVERIFY(qAbs(BarRenderer::labelFontSize(60, 500, 3) - 20) < 1e-9);
        QVERIFY(qAbs(BarRenderer::labelFontSize(32, 10, 0) - 8 / 0.55) <
                1e-9);                                      // an empty label counts as one
        QVERIFY(BarRenderer::labelFontSize(32, 2, 4) <= 0); // nothing to draw in a 2-px block
    }

    void centresTooltipsOnTheirXWithoutClamping() {
        state().setCurrentTime(at(5)); // the hand at the left edge
        state().setClockHandHovered(true);
        BarRenderer renderer;
        const BarVisuals visuals = BarVisuals::settled(state());
        const QRectF tip = renderer.tooltipRect(state(), visuals);
        QVERIFY(tip.left() < 0);
        QCOMPARE(tip.center().x(), 0.0);
        QCOMPARE(tip.top(), 25 + 3 + 2.0); // 2 px under the collapsed bar
    }

    void clipsToTheBarWithoutACompositor() {
        // What the window is clipped to without a compositor: the band, the
        // dot and the tooltip; nothing of the rest of the panel.
        BarVisuals visuals = BarVisuals::settled(state());
        BarRenderer renderer;
        QRegion region = renderer.visibleRegion(state(), visuals);
        const int hand = int(BarRenderer::handX(state()));
        QVERIFY(region.contains(QPoint(width() - 5, 24)));
        QVERIFY(region.contains(QPoint(hand, 19)));
        QVERIFY(!region.contains(QPoint(width() - 5, 30)));
        QVERIFY(!region.contains(QPoint(hand + 20, 19)));
        state().setClockHandHovered(true);
        visuals = BarVisuals::settled(state());
        region = renderer.visibleRegion(state(), visuals);
        QVERIFY(region.contains(QPoint(hand, 45))); // the tooltip under the bar
        QVERIFY(!region.contains(QPoint(hand, 100)));
        // The input region covers the bar and the hand only.
        const QRegion input = BarRenderer::inputRegion(state(), visuals);
        QVERIFY(input.contains(QPoint(10, 25)));
        QVERIFY(input.contains(QPoint(hand, 16)));
        QVERIFY(!input.contains(QPoint(hand, 45)));
        QVERIFY(!input.contains(QPoint(10, 100)));
    }
};

QTEST_MAIN(TestBarRendering)
#include "test_bar_rendering.moc"

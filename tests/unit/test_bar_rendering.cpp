// The bar's picture, painted by the renderer at known states: where the band
// is, what lies left and right of the clock, where the hand and the stars are,
// how an overlap group is split into bands, labels and their emoji.
#include "bar/BarRenderer.h"
#include "bar/NightSky.h"
#include "core/Clock.h"
#include "state/AppState.h"
#include "support/TestEnvironment.h"

#include <QImage>
#include <QPainter>
#include <QTest>
#include <memory>

using namespace daybrook;

namespace {
QDateTime at(int hour, int minute = 0) {
    return test::localTime(hour, minute, 0, QDate(2026, 6, 10));
}

TimeEntry block(const QString &id, int h1, int m1, int h2, int m2, const char *colour,
                const QString &label = QString()) {
    return CalendarEntry{id,          at(h1, m1), at(h2, m2), label, hexColor(QString::fromLatin1(colour)),
                         std::nullopt};
}

bool transparent(const QImage &image, int x, int y) {
    return qAlpha(image.pixel(x, y)) == 0;
}

// The first and last row that is drawn in column x.
std::pair<int, int> band(const QImage &image, int x) {
    int first = -1, last = -1;
    for (int y = 0; y < image.height(); ++y) {
        if (!transparent(image, x, y)) {
            first = first < 0 ? y : first;
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
    int width() const { return 1450; }
    void setEntries(const TimeEntryList &entries) {
        BarPreviewData data;
        data.entries = entries;
        state().setPreviewData(data);
    }

private Q_SLOTS:
    void initTestCase() { test::setTimeZone("Europe/Berlin"); }

    void init() {
        test::resetUserDefaults();
        Clock::freezeAt(at(14));
        m_app = std::make_unique<AppState>();
        m_app->setAppearanceMode(AppearanceMode::Light);
        m_state = std::make_unique<BarState>();
        m_state->setAppState(m_app.get());
        m_state->setFrame(QRectF(0, 0, width(), 150));
        m_renderer = std::make_unique<BarRenderer>();
    }

    void cleanup() {
        m_renderer.reset();
        m_state.reset();
        m_app.reset();
        Clock::reset();
    }

    void drawsTheBandAtEachHeight() {
        const int x = width() - 30; // away from the hand
        QImage image = grab();
        QCOMPARE(band(image, x), std::make_pair(22, 27));
        state().setIsExpanded(true);
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
        state().setIsExpanded(false);
        image = grab();
        QVERIFY(isRed(image.pixel(hand, 19)) && isRed(image.pixel(hand, 31)));
        QVERIFY(transparent(image, hand, 16) && transparent(image, hand, 34));
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
        // 00:00 to 23:00, no sun times: night until 05:00.
        m_app->setDayStartHour(0);
        m_app->setDayEndHour(23);
        m_app->setAppearanceMode(AppearanceMode::Dark);
        state().setCurrentTime(at(0, 1));
        state().setIsExpanded(true);
        const QImage image = grab();
        const double w = width(), top = 9, h = 32, nightEnd = state().hourX(5);
        const QList<Star> stars = makeStars(barStarCount, barStarSeed);
        const auto nearStar = [&](double x, double y) {
            return std::any_of(stars.begin(), stars.end(), [&](const Star &s) {
                return qAbs(s.x * w - x) < 6 && qAbs(s.y * h + top - y) < 6;
            });
        };
        int x = 30;
        while (nearStar(x, 25))
            ++x;
        const QRgb plain = image.pixel(x, 25);
        int inside = 0;
        for (const Star &s : stars) {
            const QPoint p(int(s.x * w), int(s.y * h + top));
            if (p.x() >= 15 && p.y() > 10 && p.y() < 39 && p.x() < nightEnd - 4) {
                ++inside;
                QVERIFY(qGray(image.pixel(p)) > qGray(plain) + 15);
            }
        }
        QVERIFY(inside >= 5);
        // Daytime shows no star: the sky between the ticks is even.
        const int y = 25, day0 = int(state().hourX(8)) + 4, day1 = int(state().hourX(9)) - 4;
        for (int dx = day0; dx < day1; ++dx)
            QVERIFY(qAbs(qGray(image.pixel(dx, y)) - qGray(image.pixel(day0, y))) < 8);
    }

    void splitsAGroupIntoEqualBands() {
        setEntries({block(QStringLiteral("a"), 9, 0, 12, 0, "#FF0000"),
                    block(QStringLiteral("b"), 9, 30, 11, 0, "#00C000"),
                    block(QStringLiteral("c"), 10, 0, 10, 30, "#0000FF"),
                    block(QStringLiteral("alone"), 16, 0, 17, 0, "#FF0000")});
        state().setIsExpanded(true);
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

    void reducesCollapsedLabelsToTheirEmoji_data() {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("collapsed");
        QTest::newRow("cup, blank, word") << QStringLiteral("\u2615 Coffee") << QStringLiteral("\u2615");
        QTest::newRow("two, in order")
            << QStringLiteral("\U0001F3C3 run \U0001F3B8") << QStringLiteral("\U0001F3C3\U0001F3B8");
        // A family joined by ZWJ and a flag are one character each.
        QTest::newRow("zwj sequence") << QStringLiteral("x\U0001F468\u200D\U0001F469\u200D\U0001F467")
                                      << QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");
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
        const QList<std::tuple<double, double, int, double>> cases{
            {6, 100, 1, 6},    {32, 60, 12, 15.6},   {32, 60, 40, 15.6}, {32.0 / 3, 100, 5, 32.0 / 3 - 1},
            {12, 500, 3, 5.6}, {11.9, 500, 3, 10.9}, {60, 500, 3, 20},   {32, 10, 0, 8 / 0.55}};
        for (const auto &[rowHeight, width, count, size] : cases)
            QVERIFY(qAbs(BarRenderer::labelFontSize(rowHeight, width, count) - size) < 1e-9);
        QVERIFY(BarRenderer::labelFontSize(32, 2, 4) <= 0); // nothing to draw in a 2-px block
    }

    void centresTooltipsOnTheirXWithoutClamping() {
        state().setCurrentTime(at(5)); // the hand at the left edge
        state().setClockHandHovered(true);
        const QRectF tip = m_renderer->tooltipRect(state(), BarVisuals::settled(state()));
        QCOMPARE(tip.center().x(), 0.0);
        QCOMPARE(tip.top(), 25 + 3 + 2.0); // 2 px under the collapsed bar
    }

    void drawsEmojiInColour() {
        // A grey entry: any coloured pixel on it comes from the emoji.
        setEntries({block(QStringLiteral("a"), 9, 0, 12, 0, "#808080", QStringLiteral("\u2615 Coffee"))});
        state().setIsExpanded(true);
        const QImage image = grab();
        int coloured = 0;
        for (int x = int(state().xPosition(at(9))); x < int(state().xPosition(at(9, 30))); ++x) {
            for (int y = 12; y < 38; ++y) {
                const QRgb c = image.pixel(x, y);
                coloured += qAbs(qRed(c) - qBlue(c)) > 24 || qAbs(qGreen(c) - qBlue(c)) > 24;
            }
        }
        QVERIFY2(coloured > 5, qPrintable(QString::number(coloured)));
    }

    // Repaints cost the same with any number of entries: the blocks are laid
    // out once per change of entries, width, theme or bar state.
    void laysOutEntriesOncePerChange() {
        TimeEntryList entries;
        for (int i = 0; i < 300; ++i)
            entries.append(block(QStringLiteral("e%1").arg(i), 9 + i % 10, 0, 10 + i % 10, 30, "#FF0000"));
        setEntries(entries);
        const auto paint = [&] {
            grab();
            return m_renderer->entryLayoutCount();
        };
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
};

QTEST_MAIN(TestBarRendering)
#include "test_bar_rendering.moc"

// The panel's expansion state machine, driven by real pointer events, and the
// window that follows it: only as tall as what is drawn, tooltips apart. Its
// 0.6 s and 1.1 s waits are stretched to an hour and ended by the tests once
// they are seen pending, so that no outcome depends on the machine's speed.
#include "bar/BarRenderer.h"
#include "bar/FloatingBarPanel.h"
#include "core/Clock.h"
#include "state/AppState.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QTest>
#include <memory>

using namespace daybrook;
using daybrook::test::localTime;

class TestHover : public QObject {
    Q_OBJECT

    std::unique_ptr<AppState> m_app;
    std::unique_ptr<FloatingBarPanel> m_panel;
    QTimer *m_expandTimer = nullptr, *m_collapseTimer = nullptr;

    // Whether the wait runs once the queued reaction to the pointer has run;
    // `end` ends it as if its time had come.
    bool pending(QTimer *timer, bool end = false) {
        QCoreApplication::processEvents();
        const bool active = timer->isActive();
        if (active && end)
            timer->stop(), QMetaObject::invokeMethod(timer, "timeout");
        return active;
    }

    // `point` is in the panel frame; the window shows a band of it.
    void moveTo(QPointF point) {
        const QPointF local = point - QPointF(0, m_panel->bandTop());
        QCursor::setPos(m_panel->mapToGlobal(local).toPoint());
        QMouseEvent event(QEvent::MouseMove, local, m_panel->mapToGlobal(local), Qt::NoButton, Qt::NoButton,
                          Qt::NoModifier);
        QApplication::sendEvent(m_panel.get(), &event);
    }

    // The pointer goes far below; `silently` as under XWayland, where the
    // window hears of no leave.
    struct : QObject {
        bool eventFilter(QObject *, QEvent *e) override { return e->type() == QEvent::Leave; }
    } m_deaf;
    void leave(bool silently = false) {
        if (silently)
            m_panel->installEventFilter(&m_deaf);
        QCursor::setPos(10, 700);
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(m_panel.get(), &event);
    }

    BarState &state() { return *m_panel->barState(); }
    // A point on the bar well away from the hand.
    QPointF onBar() { return QPointF(m_panel->width() - 40, 25); }
    QPointF onHand() { return QPointF(BarRenderer::handX(state()), 25); }

    void hoverUntilExpanded() {
        moveTo(onBar());
        QVERIFY(pending(m_expandTimer, true));
        QVERIFY(m_panel->isExpanded());
    }

private Q_SLOTS:
    void initTestCase() { test::setTimeZone("Europe/Berlin"); }

    void init() {
        test::resetUserDefaults();
        Clock::freezeAt(localTime(12, 0, 0, test::barDay));
        m_app = std::make_unique<AppState>();
        m_panel = std::make_unique<FloatingBarPanel>(m_app.get(), QApplication::primaryScreen());
        // The pointer starts far below the panel, so that showing it
        // synthesises no hover of its own.
        QCursor::setPos(QPoint(10, 700));
        m_panel->show();
        QTest::qWait(50);
        // Found by their lengths; the breathing hand's precise timer may have any.
        const auto timer = [&](int ms) -> QTimer * {
            for (QTimer *t : m_panel->findChildren<QTimer *>(Qt::FindDirectChildrenOnly))
                if (t->timerType() != Qt::PreciseTimer && t->interval() == ms)
                    return t;
            return nullptr;
        };
        m_expandTimer = timer(FloatingBarPanel::expandDelayMs);
        m_collapseTimer = timer(FloatingBarPanel::collapseDelayMs);
        QVERIFY(m_expandTimer && m_collapseTimer);
        m_expandTimer->setInterval(3600000);
        m_collapseTimer->setInterval(3600000);
    }

    void cleanup() {
        m_panel.reset();
        Clock::reset();
    }

    void shortPassesDoNotExpandAndEachChangeRestartsTheWait() {
        moveTo(onBar());
        QVERIFY(pending(m_expandTimer));
        moveTo(QPointF(onBar().x(), 33)); // off the bar, still inside the window
        QVERIFY(!pending(m_expandTimer) && !state().isLeaving());
        // Bar -> hand -> bar: each step starts the wait again.
        for (const QPointF &point : {onBar(), onHand(), onBar()}) {
            m_expandTimer->stop();
            moveTo(point);
            QVERIFY(pending(m_expandTimer) && !m_panel->isExpanded());
        }
        QVERIFY(pending(m_expandTimer, true));
        QVERIFY(m_panel->isExpanded());
    }

    void restingExpandsAndLeavingCollapses_data() {
        QTest::addColumn<bool>("silently");
        QTest::newRow("leave reported") << false;
        QTest::newRow("no leave reported") << true;
    }

    void restingExpandsAndLeavingCollapses() {
        QFETCH(bool, silently);
        // The window is the band around the bar's centre line, 3 px under the panel.
        const int centre = m_panel->panelFrame().top() + 25;
        const auto band = [&] { return std::pair(m_panel->geometry().center().y() + 1, m_panel->height()); };
        QCOMPARE(band(), std::pair(centre, 2 * FloatingBarPanel::collapsedBandHalf));
        QVERIFY(!m_app->lastRefreshTime());
        hoverUntilExpanded();
        // Grown at the start of the expansion, around the same line.
        QCOMPARE(band(), std::pair(centre, 2 * FloatingBarPanel::expandedBandHalf));
        // Expanding asks for a refresh.
        QTRY_VERIFY(m_app->lastRefreshTime().has_value());

        leave(silently);
        QTRY_VERIFY(state().isLeaving());
        QVERIFY(m_panel->isExpanded());
        QVERIFY(pending(m_collapseTimer, true));
        QVERIFY(!m_panel->isExpanded() && !state().isLeaving() && !state().barContentHovered());
        QTRY_COMPARE(band(), std::pair(centre, 2 * FloatingBarPanel::collapsedBandHalf));
    }

    void comingBackBeforeTheCollapseKeepsItOpen() {
        hoverUntilExpanded();
        leave();
        QVERIFY(pending(m_collapseTimer) && state().isLeaving());
        moveTo(onBar());
        QVERIFY(!pending(m_collapseTimer) && !state().isLeaving() && m_panel->isExpanded());
        // Sliding from the bar onto the hand keeps it open too.
        moveTo(onHand());
        QVERIFY(!pending(m_collapseTimer) && state().clockHandHovered() && m_panel->isExpanded());
    }

    void followsPinAndProtectionSettings() {
        m_panel->setAlwaysExpanded(true);
        QVERIFY(m_panel->isExpanded() && m_app->alwaysExpanded());
        moveTo(onBar());
        leave();
        QVERIFY(pending(m_collapseTimer, true));
        QVERIFY(m_panel->isExpanded() && state().isLeaving());
        // Unpinning collapses at once.
        m_panel->setAlwaysExpanded(false);
        QVERIFY(!m_panel->isExpanded() && !state().isLeaving());
        // A stored pin expands a new panel at creation.
        m_app->setAlwaysExpanded(true);
        QVERIFY(FloatingBarPanel(m_app.get(), QApplication::primaryScreen()).isExpanded());

        // Capture protection follows its setting both ways.
        QVERIFY(m_panel->isCaptureProtected());
        m_app->setPreventScreenRecording(false);
        QTRY_VERIFY(!m_panel->isCaptureProtected());
        m_app->setPreventScreenRecording(true);
        QTRY_VERIFY(m_panel->isCaptureProtected());
    }

    void tooltipsFollowThePointerAndSurviveLateLeaves() {
        // Moving on to the next tick reports its enter before the previous one's leave.
        moveTo(QPointF(state().hourX(9), 24));
        moveTo(QPointF(state().hourX(10), 24));
        QCOMPARE(state().hoveredElement(), HoveredElement::tick(10));
        // The tooltip is on its way in, in a window of its own under the bar.
        QTRY_VERIFY(m_panel->tooltipWindow() && m_panel->tooltipWindow()->isVisible());
        QWidget *tip = m_panel->tooltipWindow();
        QVERIFY(tip->isWindow() && tip->geometry().top() > m_panel->geometry().top());
        QVERIFY(qAbs(tip->geometry().center().x() - m_panel->visuals().tooltip->x()) <= 1);
        leave();
        QVERIFY(!state().hoveredElement());
        QTRY_VERIFY(!m_panel->visuals().tooltip.has_value() && !tip->isVisible());

        // An entry's tooltip follows the pointer once the bar has expanded.
        state().setPreviewData(BarPreviewData{{test::barEntry("review", 900, 1030)}});
        const double x = state().xPosition(localTime(9, 42, 0, test::barDay));
        moveTo(QPointF(x, 25));
        QCOMPARE(state().hoveredElement(), HoveredElement::entry(QStringLiteral("review"), x));
        QVERIFY(pending(m_expandTimer, true));
        QTRY_VERIFY(m_panel->visuals().tooltip);
        QVERIFY(qAbs(std::get<TooltipContent::Entry>(m_panel->visuals().tooltip->value).x - x) < 1);
    }
};

QTEST_MAIN(TestHover)
#include "test_hover.moc"

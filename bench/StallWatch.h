#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>

// A 1 ms timer that records the longest gap between two of its ticks: the
// longest time the event loop was kept from turning.
class StallWatch {
public:
    StallWatch() {
        m_clock.start();
        m_last = m_clock.nsecsElapsed();
        m_ticker.setTimerType(Qt::PreciseTimer);
        m_ticker.setInterval(1);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] { tick(); });
        m_ticker.start();
    }
    double elapsedMs() const { return double(m_clock.nsecsElapsed()) / 1e6; }
    // The longest gap so far, counting the one still open.
    double longestMs() {
        tick();
        return double(m_longest) / 1e6;
    }

private:
    void tick() {
        const qint64 now = m_clock.nsecsElapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QElapsedTimer m_clock;
    QTimer m_ticker;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// The bar and its tray menu in a GNOME-like Wayland session: mutter as a headless
// compositor running the bar through XWayland under an X11 top panel (trayer), a
// maximised native GTK 4 window under both, pointer input through mutter's
// remote-desktop D-Bus interface, and a StatusNotifierItem watcher on a private bus.
// One session for every check: starting the compositor takes seconds.

#include "support/Processes.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QRegularExpression>

using namespace Qt::StringLiterals;
using daybrook::test::Processes;

namespace {
constexpr int screenWidth = 1920;
constexpr int panelHeight = 32;
constexpr int buttonLeft = 0x110;
} // namespace

class WaylandSessionTest : public QObject {
    Q_OBJECT

    Processes m_procs;                // stopped newest first: the program, the panel, the compositor, the bus
    QProcess *m_compositor = nullptr; // its session command is the native window
    QString m_nativeOutput;
    std::unique_ptr<QDBusInterface> m_pointer;
    QPoint m_pointerAt;
    QRect m_collapsed;

    QString nativeOutput() {
        return m_nativeOutput += QString::fromUtf8(m_compositor->readAllStandardOutput());
    }

    QString tray(const QStringList &arguments) {
        return m_procs.run(u"/usr/bin/python3"_s,
                           QStringList{Processes::support(u"sni-watcher.py"_s)} + arguments);
    }

    // The program's visible window across the whole screen: the bar (tooltips and
    // the settings window are narrower). Invalid when there is not exactly one.
    QRect bar() {
        const QStringList bars =
            m_procs
                .sh(u"xdotool search --onlyvisible --class daybrook getwindowgeometry --shell %@ "
                    "| awk -F= '/^X=/ {x = $2} /^Y=/ {y = $2} /^WIDTH=/ {w = $2} "
                    "/^HEIGHT=/ && w == %1 {print x, y, w, $2}'"_s.arg(screenWidth))
                .split(u'\n', Qt::SkipEmptyParts);
        const QStringList xywh = bars.size() == 1 ? bars.first().split(u' ') : QStringList();
        return xywh.size() == 4 ? QRect(xywh[0].toInt(), xywh[1].toInt(), xywh[2].toInt(), xywh[3].toInt())
                                : QRect();
    }

    // The virtual pointer moves by relative steps from a known corner.
    void moveTo(const QPoint &target) {
        const QPoint step = target - m_pointerAt;
        QDBusReply<void> reply =
            m_pointer->call(u"NotifyPointerMotionRelative"_s, double(step.x()), double(step.y()));
        QVERIFY2(reply.isValid(), qPrintable(reply.error().message()));
        m_pointerAt = target;
    }

    // Clicks at a point of the screen; true once the native window reports it there.
    bool clickReachesNativeWindow(const QPoint &at) {
        moveTo(at);
        for (bool pressed : {true, false})
            m_pointer->call(u"NotifyPointerButton"_s, buttonLeft, pressed);
        // The maximised window fills the screen's height, or the work area's if it
        // was placed after the panel: its top is the screen's height less its own.
        static const QRegularExpression size(u"size \\d+ (\\d+)\n"_s);
        int nativeHeight = 0;
        for (auto it = size.globalMatch(nativeOutput()); it.hasNext();)
            nativeHeight = it.next().captured(1).toInt();
        const QString line = u"click %1 %2\n"_s.arg(at.x()).arg(at.y() - (1080 - nativeHeight));
        return QTest::qWaitFor([&] { return nativeOutput().contains(line); }, 10000);
    }

private Q_SLOTS:
    void initTestCase() {
        DAYBROOK_REQUIRE_TOOLS(u"mutter"_s, u"Xwayland"_s, u"dbus-daemon"_s, u"trayer"_s, u"xdotool"_s)
        // mutter creates the X socket folder under the umask (0755) and then refuses
        // it for not being writable by all; X servers create it as 1777.
        m_procs.sh(u"mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix"_s);

        QProcess *bus =
            m_procs.start(u"dbus-daemon"_s, {u"--config-file="_s + Processes::support(u"private-bus.conf"_s),
                                             u"--print-address=1"_s, u"--nofork"_s});
        QTRY_VERIFY_WITH_TIMEOUT(bus->canReadLine(), 10000);
        const QString address = QString::fromUtf8(bus->readLine()).trimmed();
        m_procs.env.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, address);
        QProcess *watcher =
            m_procs.start(u"/usr/bin/python3"_s, {Processes::support(u"sni-watcher.py"_s), u"watch"_s});
        QTRY_VERIFY_WITH_TIMEOUT(watcher->canReadLine(), 10000);

        // GTK draws in software: the headless compositor has no GPU.
        m_procs.env.insert(u"GSK_RENDERER"_s, u"cairo"_s);
        m_procs.env.insert(u"NO_AT_BRIDGE"_s, u"1"_s);
        m_compositor =
            m_procs.start(u"mutter"_s, {u"--headless"_s, u"--wayland"_s, u"--virtual-monitor"_s,
                                        u"%1x1080"_s.arg(screenWidth), u"--"_s, u"/usr/bin/python3"_s,
                                        Processes::support(u"native-window.py"_s)});
        static const QRegularExpression x11(u"^x11 (\\S+) (\\S*)$"_s, QRegularExpression::MultilineOption);
        QTRY_VERIFY_WITH_TIMEOUT(x11.match(nativeOutput()).hasMatch(), 30000);
        const auto display = x11.match(nativeOutput());
        m_procs.env.insert(u"DISPLAY"_s, display.captured(1));
        m_procs.env.insert(u"XAUTHORITY"_s, display.captured(2));
        m_procs.env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        m_procs.env.remove(u"WAYLAND_DISPLAY"_s);

        m_procs.start(u"trayer"_s,
                      u"--edge top --widthtype percent --width 100 --SetDockType true --SetPartialStrut "
                      "true --height %1"_s.arg(panelHeight)
                          .split(u' '));
        QTRY_VERIFY_WITH_TIMEOUT(nativeOutput().contains(u"size "_s), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(
            m_procs.sh(u"xprop -root _NET_WORKAREA"_s).contains(u" = 0, %1, "_s.arg(panelHeight)), 30000);

        m_procs.start(qEnvironmentVariable("DAYBROOK_BINARY"), {});
        QTRY_VERIFY_WITH_TIMEOUT(bar().isValid(), 30000);
        m_collapsed = bar();
        // The collapsed band (6 px) lies right under the panel, the window no
        // taller than the expanded bar (32 px).
        QCOMPARE(m_collapsed.left(), 0);
        QVERIFY(m_collapsed.top() <= panelHeight && m_collapsed.bottom() >= panelHeight + 5 &&
                m_collapsed.bottom() < panelHeight + 32);

        auto connection = QDBusConnection::connectToBus(address, u"session"_s);
        QVERIFY(connection.isConnected());
        QDBusInterface remote(u"org.gnome.Mutter.RemoteDesktop"_s, u"/org/gnome/Mutter/RemoteDesktop"_s,
                              u"org.gnome.Mutter.RemoteDesktop"_s, connection);
        QDBusReply<QDBusObjectPath> session = remote.call(u"CreateSession"_s);
        QVERIFY2(session.isValid(), qPrintable(session.error().message()));
        m_pointer =
            std::make_unique<QDBusInterface>(u"org.gnome.Mutter.RemoteDesktop"_s, session.value().path(),
                                             u"org.gnome.Mutter.RemoteDesktop.Session"_s, connection);
        QVERIFY(m_pointer->call(u"Start"_s).type() == QDBusMessage::ReplyMessage);
        // Wherever the pointer is, a long step up and left ends in the corner.
        m_pointerAt = QPoint(10000, 10000);
        moveTo(QPoint(0, 0));
        moveTo(QPoint(screenWidth / 2, 600));
    }

    void clicksUnderTheBarReachTheNativeWindow() {
        QCOMPARE(bar(), m_collapsed);
        // Just below the bar's window, and where a 150-px window would reach.
        for (const QPoint &at : {QPoint(710, m_collapsed.bottom() + 2), QPoint(720, panelHeight + 100)})
            QVERIFY(clickReachesNativeWindow(at));
    }

    // After the clicks above focused and raised the native window.
    void hoverExpandsAndLeavingOntoTheNativeWindowCollapses() {
        for (int round = 0; round < 2; ++round) {
            moveTo(QPoint(300 + 500 * round, panelHeight + 2));
            moveTo(QPoint(301 + 500 * round, panelHeight + 3));
            QTRY_VERIFY_WITH_TIMEOUT(bar().height() > m_collapsed.height(), 10000);
            // XWayland may report no leave when the pointer moves onto a native window.
            moveTo(QPoint(300 + 500 * round, panelHeight + 300));
            QTRY_COMPARE_WITH_TIMEOUT(bar(), m_collapsed, 10000);
        }
    }

    void trayMenuOnAStatusNotifierHost() {
        QTRY_COMPARE_WITH_TIMEOUT(tray({u"item"_s, u"Title"_s}), u"Daybrook"_s, 10000);
        // Exported whole (its texts are the menu's own test's), with one screen checked.
        const QStringList menu = tray({u"menu"_s}).split(u'\n');
        QVERIFY2(menu.size() == 10 && menu.filter(QRegularExpression(u"^1\\|.+\\|1$"_s)).size() == 1,
                 qPrintable(menu.join(u' ')));

        // "Hide Bar" hides the bar and is checked; choosing it again brings the bar back in place.
        for (const bool hidden : {true, false}) {
            tray({u"click"_s, u"Hide Bar"_s});
            QTRY_COMPARE_WITH_TIMEOUT(bar(), hidden ? QRect() : m_collapsed, 10000);
            QCOMPARE(tray({u"menu"_s}).section(QLatin1Char('\n'), 0, 0),
                     u"0|Hide Bar|%1"_s.arg(hidden ? 1 : 0));
        }
        // Shown again while the pointer is on the native window (XWayland keeps the
        // pointer's last position over one of its windows: here the bar's band).
        QVERIFY(clickReachesNativeWindow({1500, m_collapsed.bottom() + 2}));
    }
};

QTEST_GUILESS_MAIN(WaylandSessionTest)
#include "test_wayland_session.moc"

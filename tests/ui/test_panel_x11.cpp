// The real program under real window managers, each on its own Xvfb with a
// top panel (trayer, or i3bar under i3): the bar sits 3 px under the panel,
// full width, above a focused window opened after it, on every desktop, never
// focused; it expands and collapses under the pointer and lets the pointer
// through right below it.
#include "support/Processes.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTextStream>
#include <QWidget>
#include <xcb/xcb.h>

using namespace Qt::StringLiterals;

namespace {
// Columns sampled across the bar; the clock hand can cover one of them.
const int columns[] = {300, 1100, 1700};

// A maximised blue window standing for what the user has open; reports clicks.
class UnderWindow : public QWidget {
protected:
    void mousePressEvent(QMouseEvent *event) override {
        const QPoint p = event->globalPosition().toPoint();
        QTextStream(stdout) << "press " << p.x() << ' ' << p.y() << Qt::endl;
    }
};

bool isUnder(QRgb c) {
    return qBlue(c) > 200 && qRed(c) < 60 && qGreen(c) < 60;
}
// Drawn by the bar: neither the window below nor the bare (black) root.
bool isBar(QRgb c) {
    return !isUnder(c) && qGray(c) > 60;
}
} // namespace

class TestPanelX11 : public QObject {
    Q_OBJECT

    daybrook::test::Processes m_procs;
    xcb_connection_t *m_x = nullptr;

    QString run(const QString &command) { return m_procs.sh(command); }

    // Pixel x of screen row y as shown (compositors included).
    QRgb pixel(int x, int y) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data->root;
        xcb_get_image_reply_t *reply = xcb_get_image_reply(
            m_x, xcb_get_image(m_x, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(x), int16_t(y), 1, 1, ~0u),
            nullptr);
        const QRgb value = reply ? *reinterpret_cast<const quint32 *>(xcb_get_image_data(reply)) : 0;
        free(reply);
        return value;
    }

    // Whether most sampled columns of row y show the bar.
    bool barAt(int y) {
        return std::count_if(std::begin(columns), std::end(columns),
                             [&](int x) { return isBar(pixel(x, y)); }) >= 2;
    }

    static bool eventually(const std::function<bool()> &condition) {
        return QTest::qWaitFor(condition, 15000);
    }

private Q_SLOTS:
    void cleanup() {
        if (m_x)
            xcb_disconnect(std::exchange(m_x, nullptr));
        m_procs.stop();
    }

    void underEachWindowManager_data() {
        QTest::addColumn<QString>("wm");
        for (const char *wm : {"openbox", "xfwm4", "i3", "mutter"})
            QTest::newRow(wm) << QString::fromLatin1(wm);
        if (!QStandardPaths::findExecutable(u"kwin_x11"_s).isEmpty())
            QTest::newRow("kwin") << u"kwin"_s;
    }

    void underEachWindowManager() {
        QFETCH(QString, wm);
        DAYBROOK_REQUIRE_TOOLS(wm == u"kwin"_s ? u"kwin_x11"_s : wm, u"Xvfb"_s, u"xdotool"_s, u"trayer"_s)
        const int panel = m_procs.startDesktop(wm);
        QVERIFY(panel > 0);
        m_x = xcb_connect(qPrintable(m_procs.env.value(u"DISPLAY"_s)), nullptr);
        QVERIFY(!xcb_connection_has_error(m_x));

        m_procs.start(qEnvironmentVariable("DAYBROOK_BINARY"));
        QString bar;
        QVERIFY(eventually([&] {
            return !(bar = run(u"xdotool search --onlyvisible --name '^Daybrook$' | head -1"_s)).isEmpty();
        }));
        // Full width, the centre line 3 px under the panel, no taller than drawn.
        QCOMPARE(run(QStringLiteral("eval $(xdotool getwindowgeometry --shell %1); "
                                    "echo $X $WIDTH $((Y + HEIGHT / 2)) $((HEIGHT < 40))")
                         .arg(bar)),
                 u"0 1920 %1 1"_s.arg(panel + 3));

        // A window opened later and focused is stacked on top: the bar stays above it.
        QProcess *under = m_procs.start(QCoreApplication::applicationFilePath(), {u"--under-window"_s});
        QVERIFY(under->waitForReadyRead(10000));
        run(u"xdotool windowactivate "_s + QString::fromLocal8Bit(under->readLine()).trimmed());
        QVERIFY(eventually([&] { return isUnder(pixel(960, panel + 100)) && barAt(panel + 3); }));

        // Right below the band the window underneath takes the click.
        under->readAll();
        run(u"xdotool mousemove 1500 %1 click 1"_s.arg(panel + 100));
        QVERIFY(eventually(
            [&] { return under->readAll().contains(u"press 1500 %1"_s.arg(panel + 100).toLatin1()); }));

        // Resting on the bar expands it (never black); leaving collapses it.
        QVERIFY(!barAt(panel + 14));
        run(u"xdotool mousemove 1500 %1"_s.arg(panel + 3));
        QVERIFY2(eventually([&] { return barAt(panel + 14); }), "the bar did not expand");
        for (int x : columns)
            QVERIFY2(qGray(pixel(x, panel + 14)) > 40, "the expanded bar shows black");
        run(u"xdotool mousemove 1500 %1"_s.arg(panel + 300));
        QVERIFY2(eventually([&] { return !barAt(panel + 14); }), "the bar did not collapse");

        // Never focused, never asking for attention.
        QVERIFY(run(u"xdotool getwindowfocus"_s) != bar);
        QVERIFY(!run(u"xprop -root _NET_ACTIVE_WINDOW"_s).contains(QString::number(bar.toULongLong(), 16)));
        QVERIFY(!run(u"xprop -id "_s + bar).contains(u"DEMANDS_ATTENTION"_s));

        // On the next desktop the window below is gone and the bar stays.
        m_procs.run(m_procs.support(u"x11-desktop.sh"_s), {wm, u"next"_s});
        QVERIFY(eventually([&] { return !isUnder(pixel(960, panel + 100)) && barAt(panel + 3); }));
    }
};

int main(int argc, char **argv) {
    if (argc > 1 && qstrcmp(argv[1], "--under-window") == 0) {
        QApplication app(argc, argv);
        UnderWindow window;
        window.setPalette(QPalette(QColor(0, 0, 255)));
        window.setAutoFillBackground(true);
        window.setWindowFlag(Qt::FramelessWindowHint);
        window.showMaximized();
        QTextStream(stdout) << window.winId() << Qt::endl;
        return app.exec();
    }
    QCoreApplication app(argc, argv);
    TestPanelX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_panel_x11.moc"

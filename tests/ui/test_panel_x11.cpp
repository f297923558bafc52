// The real program under real window managers, each on its own Xvfb with a
// top panel (trayer, or i3bar under i3) and a focused, maximised window under
// the bar: the bar sits 3 px under the panel, full width, above that window,
// on every desktop, never focused, expands and collapses under the pointer,
// and lets the pointer through right below it.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QTextStream>
#include <QWidget>
#include <xcb/xcb.h>

namespace {
const QColor underColour(0, 0, 255);
// Columns sampled across the bar; the clock hand can cover one of them.
const int columns[] = {300, 1100, 1700};

// The focused window the user has open under the bar; it reports clicks.
class UnderWindow : public QWidget {
protected:
    void mousePressEvent(QMouseEvent *event) override {
        const QPoint p = event->globalPosition().toPoint();
        QTextStream(stdout) << "press " << p.x() << ' ' << p.y() << Qt::endl;
    }
};

int runUnderWindow(int argc, char **argv) {
    QApplication app(argc, argv);
    UnderWindow window;
    QPalette palette;
    palette.setColor(QPalette::Window, underColour);
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.setWindowFlag(Qt::FramelessWindowHint);
    window.showMaximized();
    QTextStream(stdout) << window.winId() << Qt::endl;
    return app.exec();
}

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

    QProcessEnvironment m_env;
    QList<QProcess *> m_processes;
    xcb_connection_t *m_x = nullptr;

    QProcess *start(const QString &program, const QStringList &arguments) {
        auto *process = new QProcess(this);
        process->setProcessEnvironment(m_env);
        process->start(program, arguments);
        m_processes.append(process);
        return process;
    }

    QString run(const QString &command) {
        QProcess process;
        process.setProcessEnvironment(m_env);
        process.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
        process.waitForFinished(10000);
        return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    }

    // One row of the screen as shown (compositors included).
    QImage screenRow(int y) {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_x)).data->root;
        xcb_get_image_reply_t *reply = xcb_get_image_reply(
            m_x, xcb_get_image(m_x, XCB_IMAGE_FORMAT_Z_PIXMAP, root, 0, int16_t(y), 1920, 1, ~0u), nullptr);
        if (!reply)
            return QImage();
        QImage image = QImage(xcb_get_image_data(reply), 1920, 1, QImage::Format_RGB32).copy();
        free(reply);
        return image;
    }

    // Whether most sampled columns of row y show the bar.
    bool barAt(int y) {
        const QImage row = screenRow(y);
        int count = 0;
        for (int x : columns)
            count += !row.isNull() && isBar(row.pixel(x, 0)) ? 1 : 0;
        return count >= 2;
    }

    // Waits until `condition` holds; false if it never did within 8 s.
    static bool eventually(const std::function<bool()> &condition) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 8000) {
            if (condition())
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    void stopAll() {
        for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
            (*it)->terminate();
            if (!(*it)->waitForFinished(3000))
                (*it)->kill();
            (*it)->waitForFinished(1000);
            delete *it;
        }
        m_processes.clear();
    }

private Q_SLOTS:
    void cleanup() {
        if (m_x)
            xcb_disconnect(std::exchange(m_x, nullptr));
        stopAll();
    }

    void underEachWindowManager_data() {
        QTest::addColumn<QString>("wm");
        QTest::addColumn<QString>("binary");
        QTest::addColumn<QString>("secondDesktop");
        const QString setDesktop = QStringLiteral("xdotool set_desktop 1");
        QTest::newRow("openbox") << "openbox"
                                 << "openbox" << setDesktop;
        QTest::newRow("xfwm4") << "xfwm4"
                               << "xfwm4" << setDesktop;
        QTest::newRow("i3") << "i3"
                            << "i3" << QStringLiteral("i3-msg workspace 2");
        QTest::newRow("mutter") << "mutter"
                                << "mutter" << setDesktop;
        if (!QStandardPaths::findExecutable(QStringLiteral("kwin_x11")).isEmpty())
            QTest::newRow("kwin") << "kwin"
                                  << "kwin_x11" << setDesktop;
    }

    void underEachWindowManager() {
        QFETCH(QString, wm);
        QFETCH(QString, binary);
        QFETCH(QString, secondDesktop);
        const QString program = qEnvironmentVariable("DAYBROOK_BINARY");
        for (const QString &tool :
             {binary, QStringLiteral("Xvfb"), QStringLiteral("xdotool"), QStringLiteral("trayer")}) {
            if (QStandardPaths::findExecutable(tool).isEmpty()) {
                // CI installs every one of them: missing there is a failure.
                QVERIFY2(qgetenv("CI") != "true", qPrintable(tool + QStringLiteral(" is missing")));
                QSKIP(qPrintable(tool + QStringLiteral(" is not installed")));
            }
        }
        QVERIFY(QFile::exists(program));

        int number = 40 + int(QCoreApplication::applicationPid() % 200);
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            ++number;
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(number));
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        start(QStringLiteral("Xvfb"),
              {m_env.value(QStringLiteral("DISPLAY")), QStringLiteral("-screen"), QStringLiteral("0"),
               QStringLiteral("1920x1080x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)), 10000);
        QTRY_VERIFY((m_x = xcb_connect(qPrintable(m_env.value(QStringLiteral("DISPLAY"))), nullptr)) &&
                    !xcb_connection_has_error(m_x));

        // The window manager and its top panel; the panel's lower edge.
        QProcess *desktop = start(qEnvironmentVariable("DAYBROOK_SOURCE_DIR") +
                                      QStringLiteral("/tests/support/x11-desktop.sh"),
                                  {wm});
        QTRY_VERIFY_WITH_TIMEOUT(desktop->canReadLine(), 20000);
        const int panel = QString::fromLocal8Bit(desktop->readLine()).section(QLatin1Char(' '), 1).toInt();
        QVERIFY(panel > 0);

        QProcess *under = start(QCoreApplication::applicationFilePath(), {QStringLiteral("--under-window")});
        QVERIFY(under->waitForReadyRead(10000));
        const QString underId = QString::fromLocal8Bit(under->readLine()).trimmed();
        run(QStringLiteral("xdotool windowactivate ") + underId);
        QVERIFY(eventually([&] { return isUnder(screenRow(panel + 100).pixel(960, 0)); }));

        start(program, {});
        QString bar;
        QVERIFY(eventually([&] {
            bar = run(QStringLiteral("xdotool search --onlyvisible --name '^Daybrook$' | head -1"));
            return !bar.isEmpty();
        }));

        // Placement: full width, the centre line 3 px under the panel.
        const QStringList geometry =
            run(QStringLiteral("xdotool getwindowgeometry --shell ") + bar).split(QLatin1Char('\n'));
        auto value = [&](const char *key) {
            return geometry.filter(QRegularExpression(QStringLiteral("^%1=").arg(QLatin1String(key))))
                .value(0)
                .section(QLatin1Char('='), 1)
                .toInt();
        };
        QCOMPARE(value("X"), 0);
        QCOMPARE(value("WIDTH"), 1920);
        QCOMPARE(value("Y") + value("HEIGHT") / 2, panel + 3);
        QVERIFY2(value("HEIGHT") < 40, "the window reaches beyond the bar");

        // Above the focused window, also once that window is raised again.
        QVERIFY(eventually([&] { return barAt(panel + 3); }));
        run(QStringLiteral("xdotool windowraise ") + underId);
        QTest::qWait(300);
        QVERIFY(eventually([&] { return barAt(panel + 3); }));

        // Right below the band the window underneath takes the click.
        under->readAll();
        run(QStringLiteral("xdotool mousemove 1500 %1 click 1").arg(panel + 100));
        QVERIFY(eventually([&] {
            return QString::fromLocal8Bit(under->readAll())
                .contains(QStringLiteral("press 1500 %1").arg(panel + 100));
        }));

        // Resting on the bar expands it; leaving collapses it.
        QVERIFY(!barAt(panel + 14));
        run(QStringLiteral("xdotool mousemove 1500 %1").arg(panel + 3));
        QVERIFY2(eventually([&] { return barAt(panel + 14); }), "the bar did not expand");
        const QImage expanded = screenRow(panel + 14);
        for (int x : columns)
            QVERIFY2(qGray(expanded.pixel(x, 0)) > 40, "the expanded bar shows black");
        run(QStringLiteral("xdotool mousemove 1500 %1").arg(panel + 300));
        QVERIFY2(eventually([&] { return !barAt(panel + 14); }), "the bar did not collapse");

        // Never focused, never asking for attention.
        QVERIFY(run(QStringLiteral("xdotool getwindowfocus")) != bar);
        QVERIFY(!run(QStringLiteral("xprop -root _NET_ACTIVE_WINDOW"))
                     .contains(QString::number(bar.toULongLong(), 16)));
        QVERIFY(!run(QStringLiteral("xprop -id ") + bar).contains(QStringLiteral("DEMANDS_ATTENTION")));

        // On the next desktop the window below is gone and the bar stays.
        run(secondDesktop);
        QVERIFY(eventually([&] { return !isUnder(screenRow(panel + 100).pixel(960, 0)); }));
        QVERIFY(eventually([&] { return barAt(panel + 3); }));
    }
};

int main(int argc, char **argv) {
    if (argc > 1 && qstrcmp(argv[1], "--under-window") == 0)
        return runUnderWindow(argc, argv);
    QCoreApplication app(argc, argv);
    TestPanelX11 test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_panel_x11.moc"

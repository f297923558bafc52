// The real program on a real X server: the bar expands when the pointer rests
// on it, collapses when it leaves, and the rest of its 150-px window lets the
// pointer through to the window underneath — with and without a compositor.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <QWidget>
#include <memory>

namespace {
const QColor underColour(0, 255, 0);
// Columns sampled across the bar; the clock hand can cover one of them.
const int columns[] = {300, 700, 1100, 1500, 1880};
// Under the collapsed bar and its hand, inside the expanded bar.
constexpr int probeY = 13;

// A plain green window covering the screen, standing in for whatever the user
// has open under the bar; it reports every pointer position it receives.
class UnderWindow : public QWidget {
public:
    UnderWindow() : QWidget(nullptr, Qt::FramelessWindowHint) { setMouseTracking(true); }

protected:
    void mouseMoveEvent(QMouseEvent *event) override {
        const QPoint p = event->globalPosition().toPoint();
        QTextStream(stdout) << "move " << p.x() << ' ' << p.y() << Qt::endl;
    }
};

int runUnderWindow(int argc, char **argv) {
    QApplication app(argc, argv);
    UnderWindow window;
    QPalette palette;
    palette.setColor(QPalette::Window, underColour);
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    // Not the whole screen: the window manager would take an undecorated
    // screen-sized window for a full-screen one and raise it above the bar.
    window.setGeometry(0, 0, 1920, 900);
    window.show();
    QTextStream(stdout) << window.winId() << Qt::endl;
    return app.exec();
}

bool isUnder(QRgb c) {
    return qGreen(c) > 230 && qRed(c) < 30 && qBlue(c) < 30;
}
} // namespace

class TestPanelX11 : public QObject {
    Q_OBJECT

    QString m_display;
    QProcessEnvironment m_env;
    QList<QProcess *> m_processes;
    std::unique_ptr<QTemporaryDir> m_shots;
    QProcess *m_under = nullptr;

    // Moves the pointer onto (x, y) and tells whether the window underneath
    // received it there within the wait.
    bool underWindowReceives(int x, int y, int waitMs) {
        run({QStringLiteral("xdotool"), QStringLiteral("mousemove"), QString::number(x - 7),
             QString::number(y)});
        QTest::qWait(100);
        m_under->readAllStandardOutput();
        run({QStringLiteral("xdotool"), QStringLiteral("mousemove"), QString::number(x), QString::number(y)});
        const QString expected = QStringLiteral("move %1 %2\n").arg(x).arg(y);
        QString output;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < waitMs) {
            QTest::qWait(50);
            output += QString::fromLocal8Bit(m_under->readAllStandardOutput());
            if (output.contains(expected))
                return true;
        }
        return false;
    }

    QProcess *start(const QString &program, const QStringList &arguments) {
        auto *process = new QProcess(this);
        process->setProcessEnvironment(m_env);
        process->setProcessChannelMode(QProcess::SeparateChannels);
        process->start(program, arguments);
        m_processes.append(process);
        return process;
    }

    QString run(const QStringList &command) {
        QProcess process;
        process.setProcessEnvironment(m_env);
        process.start(command.first(), command.mid(1));
        process.waitForFinished(10000);
        return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    }

    QImage screenshot() {
        const QString path = m_shots->filePath(QStringLiteral("shot.png"));
        QFile::remove(path);
        run({QStringLiteral("import"), QStringLiteral("-window"), QStringLiteral("root"), path});
        return QImage(path);
    }

    // How many sampled columns show the window underneath at the probe row.
    int columnsShowingUnder(const QImage &image) {
        int count = 0;
        for (int x : columns)
            count += isUnder(image.pixel(x, probeY)) ? 1 : 0;
        return count;
    }

    bool waitForScreenshot(const std::function<bool(const QImage &)> &condition, int timeoutMs) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            const QImage image = screenshot();
            if (!image.isNull() && condition(image))
                return true;
            QTest::qWait(150);
        }
        return false;
    }

    void stopAll() {
        for (auto it = m_processes.rbegin(); it != m_processes.rend(); ++it) {
            (*it)->terminate();
            if (!(*it)->waitForFinished(2000))
                (*it)->kill();
            (*it)->waitForFinished(1000);
            delete *it;
        }
        m_processes.clear();
        m_under = nullptr;
    }

    // Why the session cannot run here, or nothing.
    static QString missingPart(bool compositor) {
        QStringList tools{QStringLiteral("Xvfb"), QStringLiteral("xdotool"), QStringLiteral("import")};
        if (compositor)
            tools << QStringLiteral("xcompmgr");
        for (const QString &tool : tools)
            if (QStandardPaths::findExecutable(tool).isEmpty())
                return tool + QStringLiteral(" is not installed");
        const QString binary = qEnvironmentVariable("DAYBROOK_BINARY");
        if (binary.isEmpty() || !QFile::exists(binary))
            return QStringLiteral("DAYBROOK_BINARY does not name the program");
        return QString();
    }

    void startSession(bool compositor) {
        const QString binary = qEnvironmentVariable("DAYBROOK_BINARY");

        // A display number nobody uses.
        int number = 40 + int(QCoreApplication::applicationPid() % 200);
        while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            ++number;
        m_display = QStringLiteral(":%1").arg(number);
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(QStringLiteral("DISPLAY"), m_display);
        m_env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));

        start(QStringLiteral("Xvfb"),
              {m_display, QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1920x1080x24"),
               QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)), 10000);
        QTest::qWait(200);
        if (!QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty())
            start(QStringLiteral("openbox"), {});
        if (compositor)
            start(QStringLiteral("xcompmgr"), {});
        QTest::qWait(300);

        m_under = start(QCoreApplication::applicationFilePath(), {QStringLiteral("--under-window")});
        QVERIFY(m_under->waitForReadyRead(10000));
        m_under->readAllStandardOutput();
        QVERIFY(waitForScreenshot([](const QImage &image) { return isUnder(image.pixel(960, 600)); }, 10000));

        start(binary, {});
        QElapsedTimer timer;
        timer.start();
        while (run({QStringLiteral("xdotool"), QStringLiteral("search"), QStringLiteral("--name"),
                    QStringLiteral("^Daybrook$")})
                   .isEmpty()) {
            QVERIFY2(timer.elapsed() < 15000, "the bar's window did not appear");
            QTest::qWait(100);
        }
        // The collapsed bar is drawn at the top edge.
        QVERIFY(waitForScreenshot([](const QImage &image) { return !isUnder(image.pixel(1500, 2)); }, 10000));
    }

    void expandsAndLetsThePointerThrough() {
        const QImage collapsed = screenshot();
        QVERIFY(columnsShowingUnder(collapsed) >= 4);
        // The 150-px window is not painted: the window below shows, not black.
        QVERIFY(isUnder(collapsed.pixel(1500, 100)));

        // 100 px below the top of the screen, inside the panel's window, the
        // pointer reaches the window underneath; on the bar it does not.
        QVERIFY2(underWindowReceives(1500, 100, 3000), "the panel takes the pointer below the bar");
        QVERIFY2(!underWindowReceives(1500, 3, 600), "the bar does not take the pointer");
        QVERIFY(
            waitForScreenshot([this](const QImage &image) { return columnsShowingUnder(image) <= 1; }, 5000));
        const QImage expanded = screenshot();
        for (int x : columns) {
            const QRgb c = expanded.pixel(x, probeY);
            QVERIFY2(qGray(c) > 40, "the expanded bar shows black");
        }

        // Leaving the bar: the pointer is passed through again, and the bar
        // collapses, staying above the window underneath.
        QVERIFY(underWindowReceives(1500, 100, 3000));
        QVERIFY(
            waitForScreenshot([this](const QImage &image) { return columnsShowingUnder(image) >= 4; }, 5000));
        const QImage after = screenshot();
        QVERIFY(!isUnder(after.pixel(1500, 2)));
        QVERIFY(isUnder(after.pixel(1500, 100)));
    }

private Q_SLOTS:
    void init() { m_shots = std::make_unique<QTemporaryDir>(); }
    void cleanup() { stopAll(); }

    void withoutCompositor() {
        if (const QString missing = missingPart(false); !missing.isEmpty())
            QSKIP(qPrintable(missing));
        startSession(false);
        if (QTest::currentTestFailed())
            return;
        expandsAndLetsThePointerThrough();
    }

    void withCompositor() {
        if (const QString missing = missingPart(true); !missing.isEmpty())
            QSKIP(qPrintable(missing));
        startSession(true);
        if (QTest::currentTestFailed())
            return;
        expandsAndLetsThePointerThrough();
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

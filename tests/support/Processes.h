#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace daybrook::test {

// Child processes sharing one environment (displays, buses), stopped newest
// first: the program before its panel, the panel before its server.
class Processes {
public:
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    ~Processes() { stop(); }

    static QString support(const QString &name) {
        return qEnvironmentVariable("DAYBROOK_SOURCE_DIR") + QStringLiteral("/tests/support/") + name;
    }

    QProcess *start(const QString &program, const QStringList &arguments = {}) {
        auto *process = new QProcess;
        process->setProcessEnvironment(env);
        process->start(program, arguments);
        m_processes.append(process);
        return process;
    }

    // Runs `program` to its end; its standard output, trimmed.
    QString run(const QString &program, const QStringList &arguments = {}) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        process.waitForFinished(10000);
        return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    }
    QString sh(const QString &command) { return run(QStringLiteral("sh"), {QStringLiteral("-c"), command}); }

    // Xvfb with `wm` and a top panel (x11-desktop.sh), the environment pointed at
    // it; the panel's lower edge, 0 when the desktop did not come up.
    int startDesktop(const QString &wm) {
        QProcess *desktop = start(support(QStringLiteral("x11-desktop.sh")), {wm});
        (void)QTest::qWaitFor([&] { return desktop->canReadLine(); }, 60000); // else no fields: edge 0
        const QStringList ready =
            QString::fromLocal8Bit(desktop->readLine()).trimmed().split(QLatin1Char(' '));
        env.insert(QStringLiteral("DISPLAY"), ready.value(1));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return ready.value(2).toInt();
    }

    void stop() {
        while (!m_processes.isEmpty()) {
            std::unique_ptr<QProcess> process(m_processes.takeLast());
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished(3000);
        }
    }

private:
    QList<QProcess *> m_processes;
};

} // namespace daybrook::test

// Skips the test when one of the tools is missing; CI installs every one of
// them, so missing there is a failure.
#define DAYBROOK_REQUIRE_TOOLS(...)                                                                          \
    for (const QString &tool : QStringList{__VA_ARGS__}) {                                                   \
        if (QStandardPaths::findExecutable(tool).isEmpty()) {                                                \
            QVERIFY2(qgetenv("CI") != "true", qPrintable(tool + QStringLiteral(" is missing")));             \
            QSKIP(qPrintable(tool + QStringLiteral(" is not installed")));                                   \
        }                                                                                                    \
    }

#include "support/DesktopIntegration.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <glib.h>

namespace daybrook::test {

ToolResult runTool(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment) {
    ToolResult result;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    // A generous bound so a hung tool fails the test instead of blocking it.
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        result.output = process.readAll() + "\n(" + program.toUtf8() + " did not finish)";
        return result;
    }
    result.output = process.readAll();
    if (process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}

ToolResult installBuild(const QString &prefix, const QProcessEnvironment &environment,
                        const QString &component) {
    const QString buildDir = qEnvironmentVariable("DAYBROOK_BUILD_DIR");
    const QString cmake = QStandardPaths::findExecutable(QStringLiteral("cmake"));
    if (buildDir.isEmpty() || cmake.isEmpty())
        return {-1, "DAYBROOK_BUILD_DIR is not set or cmake is not on the PATH"};
    QStringList arguments{QStringLiteral("--install"), buildDir, QStringLiteral("--prefix"), prefix};
    if (!component.isEmpty())
        arguments << QStringLiteral("--component") << component;
    return runTool(cmake, arguments, environment);
}

QString desktopEntryValue(const QString &entryPath, const char *key) {
    GKeyFile *keyFile = g_key_file_new();
    QString value;
    if (g_key_file_load_from_file(keyFile, QFile::encodeName(entryPath).constData(), G_KEY_FILE_NONE,
                                  nullptr)) {
        if (gchar *text = g_key_file_get_string(keyFile, "Desktop Entry", key, nullptr)) {
            value = QString::fromUtf8(text);
            g_free(text);
        }
    }
    g_key_file_free(keyFile);
    return value;
}

QStringList desktopEntryCommand(const QString &entryPath) {
    const QString exec = desktopEntryValue(entryPath, "Exec");
    if (exec.isNull())
        return {};
    const QByteArray expanded = exec.toUtf8().replace("%%", "%");
    QStringList command;
    gint argc = 0;
    gchar **argv = nullptr;
    if (g_shell_parse_argv(expanded.constData(), &argc, &argv, nullptr)) {
        for (gint i = 0; i < argc; ++i)
            command.append(QString::fromUtf8(argv[i]));
        g_strfreev(argv);
    }
    return command;
}

} // namespace daybrook::test

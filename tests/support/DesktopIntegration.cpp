#include "support/DesktopIntegration.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <glib.h>

namespace daybrook::test {

ToolResult runTool(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    // A generous bound so a hung tool fails the test instead of blocking it (QProcess kills it).
    const bool finished = process.waitForFinished(120000);
    const bool exited = finished && process.exitStatus() == QProcess::NormalExit;
    return {exited ? process.exitCode() : -1, process.readAll() + (finished ? "" : " (did not finish)")};
}

ToolResult installBuild(const QString &prefix, const QProcessEnvironment &environment) {
    const QString buildDir = qEnvironmentVariable("DAYBROOK_BUILD_DIR");
    const QString cmake = QStandardPaths::findExecutable(QStringLiteral("cmake"));
    if (buildDir.isEmpty() || cmake.isEmpty())
        return {-1, "DAYBROOK_BUILD_DIR is not set or cmake is not on the PATH"};
    return runTool(cmake, {"--install", buildDir, "--prefix", prefix}, environment);
}

QString desktopEntryValue(const QString &entryPath, const char *key) {
    GKeyFile *keyFile = g_key_file_new();
    gchar *text =
        g_key_file_load_from_file(keyFile, QFile::encodeName(entryPath).constData(), G_KEY_FILE_NONE, nullptr)
            ? g_key_file_get_string(keyFile, "Desktop Entry", key, nullptr)
            : nullptr;
    const QString value = text ? QString::fromUtf8(text) : QString();
    g_free(text);
    g_key_file_free(keyFile);
    return value;
}

QStringList desktopEntryCommand(const QString &entryPath) {
    const QByteArray expanded = desktopEntryValue(entryPath, "Exec").toUtf8().replace("%%", "%");
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

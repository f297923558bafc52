#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace daybrook::test {

struct ToolResult {
    int exitCode = -1; // -1: could not start, crashed or did not finish
    QByteArray output; // standard output and error, merged
};

// Runs a program to completion.
ToolResult runTool(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// Installs the build under test (DAYBROOK_BUILD_DIR) with `cmake --install`,
// which lists the installed files in the build folder's install_manifest.txt.
ToolResult installBuild(const QString &prefix,
                        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// A key of the [Desktop Entry] group, read with GLib's key file parser; null when absent.
QString desktopEntryValue(const QString &entryPath, const char *key);

// The command line an entry's Exec= starts, read the way GLib's launcher reads it
// (key file unescaping, %% -> %, shell-style words); field codes stay as written.
QStringList desktopEntryCommand(const QString &entryPath);

} // namespace daybrook::test

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

// Installs the build under test (DAYBROOK_BUILD_DIR) with `cmake --install`.
// CMake writes the list of installed files to one place in the build folder
// per component: tests that read it install all components, others name the
// component so that they run alongside without replacing that list.
ToolResult installBuild(const QString &prefix,
                        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                        const QString &component = QString());

// A key of the [Desktop Entry] group, read with GLib's key file parser; null when absent.
QString desktopEntryValue(const QString &entryPath, const char *key);

// The command line an entry's Exec= starts, read the way GLib's launcher reads it
// (key file unescaping, %% -> %, shell-style words); field codes stay as written.
QStringList desktopEntryCommand(const QString &entryPath);

} // namespace daybrook::test

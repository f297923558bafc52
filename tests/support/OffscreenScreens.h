#pragma once

#include <QByteArray>
#include <functional>

namespace daybrook::test {

// Creates the QApplication on the offscreen platform showing the given
// virtual screens (the JSON objects of the offscreen plugin's "screens" list,
// comma-separated) and returns what `run` returns; the application lives as
// long as `run` runs.
int runOnScreens(int &argc, char **argv, const QByteArray &screens, const std::function<int()> &run);

} // namespace daybrook::test

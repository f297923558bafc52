#include "support/OffscreenScreens.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryFile>

namespace daybrook::test {

int runOnScreens(int &argc, char **argv, const QByteArray &screens, const std::function<int()> &run) {
    QTemporaryFile config;
    if (!config.open())
        return 1;
    config.write(R"({"synchronousWindowSystemEvents": true, "windowFrameMargins": false, "screens": [)" +
                 screens + "]}");
    config.flush();
    qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + QFile::encodeName(config.fileName()));
    QApplication app(argc, argv);
    return run();
}

} // namespace daybrook::test

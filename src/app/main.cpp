#include "app/AppDelegate.h"
#include "platform/SingleInstance.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char *argv[]) {
    // A plain Wayland client cannot place an always-on-top window at absolute
    // screen coordinates: run through XWayland.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QString url;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (!argument.startsWith(QLatin1Char('-'))) {
            url = argument;
            break;
        }
    }

    // Before any display is opened: a later launch only hands over its URL (or
    // asks the running instance to come forward) and exits.
    if (daybrook::SingleInstance::sendToRunning(url))
        return 0;

    QApplication app(argc, argv);
    // The tray item's title and id are the application name. Every path (the
    // settings folder, the single-instance socket, the autostart entry) is
    // spelled out in lower case where it is made, so this name is free to read
    // as the product's.
    QApplication::setApplicationName(QStringLiteral("Daybrook"));
    QApplication::setApplicationDisplayName(QStringLiteral("Daybrook"));
    QApplication::setDesktopFileName(QStringLiteral("daybrook"));
    QApplication::setQuitOnLastWindowClosed(false);

    daybrook::SingleInstance instance;
    if (daybrook::SingleInstance::socketFolder().isEmpty())
        QTextStream(stderr) << "Daybrook: no private folder for the launch socket (XDG_RUNTIME_DIR is unset "
                               "or not private); later launches will start another bar"
                            << Qt::endl;
    else if (!instance.listen())
        QTextStream(stderr) << "Daybrook: cannot listen for later launches on "
                            << daybrook::SingleInstance::socketPath() << Qt::endl;

    daybrook::AppDelegate delegate;
    QObject::connect(&instance, &daybrook::SingleInstance::urlReceived, &delegate,
                     &daybrook::AppDelegate::handleURL);
    QObject::connect(&instance, &daybrook::SingleInstance::activationRequested, &delegate,
                     &daybrook::AppDelegate::handleActivation);
    delegate.applicationDidFinishLaunching();
    if (!url.isEmpty())
        delegate.handleURL(url);
    return app.exec();
}

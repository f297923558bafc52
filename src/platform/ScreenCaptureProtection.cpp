#include "platform/ScreenCaptureProtection.h"

#include <QtGlobal>

namespace daybrook {

// Neither X11 nor Wayland has a way for a client to exclude one of its windows
// from screenshots or screen recording: any X client can read any window, and
// on Wayland capture is the compositor's business. The setting is kept and
// tracked so that a platform that can honour it needs only this function.
bool applyScreenCaptureProtection(QWidget *window, bool protect) {
    Q_UNUSED(window);
    Q_UNUSED(protect);
    return false;
}

} // namespace daybrook

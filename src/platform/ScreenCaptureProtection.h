#pragma once

class QWidget;

namespace daybrook {

// Asks the window system to keep a window out of screen captures and
// recordings, or to allow it again. Returns whether the platform did so.
bool applyScreenCaptureProtection(QWidget *window, bool protect);

} // namespace daybrook

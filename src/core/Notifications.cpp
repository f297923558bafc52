#include "core/Notifications.h"

namespace daybrook {

Notifications &Notifications::instance() {
    static Notifications notifications;
    return notifications;
}

} // namespace daybrook

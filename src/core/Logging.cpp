#include "core/Logging.h"

Q_LOGGING_CATEGORY(lcApp, "daybrook.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHover, "daybrook.hover", QtInfoMsg)
Q_LOGGING_CATEGORY(lcLayout, "daybrook.layout", QtInfoMsg)
Q_LOGGING_CATEGORY(lcBar, "daybrook.bar", QtInfoMsg)
Q_LOGGING_CATEGORY(lcTodoist, "daybrook.todoist", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCalendar, "daybrook.calendar", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSun, "daybrook.sun", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSettings, "daybrook.settings", QtInfoMsg)

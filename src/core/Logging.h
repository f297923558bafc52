#pragma once

#include <QLoggingCategory>

// Diagnostic lines go to these categories; their debug output is off unless
// enabled with QT_LOGGING_RULES (for example "daybrook.layout.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcHover)
Q_DECLARE_LOGGING_CATEGORY(lcLayout)
Q_DECLARE_LOGGING_CATEGORY(lcBar)
Q_DECLARE_LOGGING_CATEGORY(lcTodoist)
Q_DECLARE_LOGGING_CATEGORY(lcCalendar)
Q_DECLARE_LOGGING_CATEGORY(lcSun)
Q_DECLARE_LOGGING_CATEGORY(lcSettings)

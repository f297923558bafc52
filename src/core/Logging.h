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

#include <QString>
#include <QStringView>

namespace daybrook {

// Text that came from outside (event titles, task names, server messages) as it
// may appear in a log line: control and direction-override characters are
// written as escapes, so a title cannot move the cursor, recolour or rewrite a
// terminal, or forge a line of its own.
QString forLog(QStringView text);

} // namespace daybrook

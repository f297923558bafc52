#pragma once

#include "todoist/TodoistDecoding.h"

namespace daybrook::reference {

Decoded<TodoistPage<TodoistTask>> decodeTaskPage(const QByteArray &body);
Decoded<TodoistPage<TodoistProject>> decodeProjectPage(const QByteArray &body);

} // namespace daybrook::reference

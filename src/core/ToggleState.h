#pragma once

namespace daybrook {

// How many of a group's members are switched on, for a tri-state switch.
enum class ToggleState { All, Some, None };

} // namespace daybrook

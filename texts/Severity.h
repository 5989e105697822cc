// How serious a log line is: carried with the line, so that the log list's icon and the command
// line's --quiet filter never have to read it from the words.
#pragma once

#include <cstdint>

namespace txt {

// Numbered as the log list's icons.
enum class Severity : uint8_t { Information = 0, Warning = 1, Error = 2 };

} // namespace txt

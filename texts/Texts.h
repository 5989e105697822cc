// Every text that the programs show or log, looked up by its id in the language of the process.
// The table itself, each text with both its languages side by side, is TextTable.inc.
#pragma once

#include "texts/Language.h"
#include "texts/Severity.h"

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace txt {

enum class Id : uint16_t {
#define PELLAN_TEXT(id, japanese, english) id,
#define PELLAN_LINE(id, severity, japanese, english) id,
#include "texts/TextTable.inc"
#undef PELLAN_TEXT
#undef PELLAN_LINE
    Count
};

inline constexpr size_t kTextCount = static_cast<size_t>(Id::Count);

// The text in the process's language, or in the one given.
const char* Text(Id id);
const char* Text(Id id, Language language);
// How serious the text is when it is logged as a line; Information for texts that are no line.
Severity SeverityOf(Id id);
// Whether the text is a line of the log (an entry PELLAN_LINE).
bool IsLogLine(Id id);
// The text with its placeholders ("%s" and "%d", in order) replaced by the arguments. Argument
// texts are put in as they stand: a "%s" inside one is not replaced again.
std::string Format(Id id, std::initializer_list<std::string_view> arguments);
std::string Format(std::string_view pattern, std::initializer_list<std::string_view> arguments);

} // namespace txt

#include "texts/Texts.h"

#include <iterator>

namespace txt {

namespace {

struct Entry {
    bool Line;
    Severity Level;
    const char* Japanese;
    const char* English;
};

constexpr Entry kEntries[] = {
#define PELLAN_TEXT(id, japanese, english) {false, Severity::Information, japanese, english},
#define PELLAN_LINE(id, severity, japanese, english) {true, Severity::severity, japanese, english},
#include "texts/TextTable.inc"
#undef PELLAN_TEXT
#undef PELLAN_LINE
};
static_assert(std::size(kEntries) == kTextCount);

const Entry& EntryOf(Id id)
{
    return kEntries[static_cast<size_t>(id)];
}

} // namespace

const char* Text(Id id, Language language)
{
    const Entry& entry = EntryOf(id);
    return language == Language::Japanese ? entry.Japanese : entry.English;
}

const char* Text(Id id)
{
    return Text(id, CurrentLanguage());
}

Severity SeverityOf(Id id)
{
    return EntryOf(id).Level;
}

bool IsLogLine(Id id)
{
    return EntryOf(id).Line;
}

std::string Format(std::string_view pattern, std::initializer_list<std::string_view> arguments)
{
    std::string result;
    result.reserve(pattern.size());
    auto next = arguments.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        const bool placeholder = pattern[i] == '%' && i + 1 < pattern.size() &&
                                 (pattern[i + 1] == 's' || pattern[i + 1] == 'd');
        if (placeholder && next != arguments.end()) {
            result += *next++;
            ++i;
        } else {
            result += pattern[i];
        }
    }
    return result;
}

std::string Format(Id id, std::initializer_list<std::string_view> arguments)
{
    return Format(Text(id), arguments);
}

} // namespace txt

// A song's own information as a plug-in gives it through its optional entries
// (kpi/KpiExtension.h), in UTF-8 whatever the plug-in's own character set.
#pragma once

#include "kpi/KpiExtension.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

struct TZoSongInfo {
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string Track;
    std::string Date;
    std::string Comment;
    std::string Copyright;

    // The fields in the order of their numbers, PELLAN_INFO_TITLE first.
    static constexpr size_t kFieldCount = 7;
    std::array<std::string*, kFieldCount> Fields()
    {
        return {&Title, &Artist, &Album, &Track, &Date, &Comment, &Copyright};
    }
    std::array<const std::string*, kFieldCount> Fields() const
    {
        return {&Title, &Artist, &Album, &Track, &Date, &Comment, &Copyright};
    }
    bool Empty() const
    {
        for (const std::string* field : Fields())
            if (!field->empty())
                return false;
        return true;
    }
};

// The longest text kept of one field, and of an open failure's reason.
inline constexpr size_t kMaxSongInfoText = 64 * 1024;
inline constexpr size_t kMaxOpenFailureText = 1024;

// text cut to at most limit bytes, never inside a UTF-8 character.
inline std::string CutText(std::string text, size_t limit)
{
    if (text.size() <= limit)
        return text;
    text.resize(limit);
    // A character of several bytes that the cut split goes whole.
    size_t start = text.size();
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80)
        --start;
    if (start > 0) {
        const auto lead = static_cast<unsigned char>(text[start - 1]);
        const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (start - 1 + length > text.size())
            text.resize(start - 1);
    }
    return text;
}
// text as one line of the log: UTF-8 (read as code page 932 where it is not), control
// characters as blanks, no blanks around it, at most limit bytes.
std::string OneLineText(const std::string& text, size_t limit);

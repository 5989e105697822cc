#include "cli/StatusLine.h"

#include "texts/Texts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

namespace statusline {

namespace {

struct Range {
    char32_t First, Last;
};

// Characters that take no column of their own: combining marks, joiners, direction marks,
// variation selectors, and the kana voicing marks that combine with the kana before them.
constexpr Range kZeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A},   {0x064B, 0x065F},
    {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x0E47, 0x0E4E}, {0x1AB0, 0x1AFF},   {0x1DC0, 0x1DFF},
    {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x2064}, {0x20D0, 0x20FF},   {0x3099, 0x309A},
    {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF}, {0xE0100, 0xE01EF},
};

// East Asian wide and full-width characters, which terminals draw in two columns: Hangul,
// the CJK symbols and punctuation, kana, ideographs, Yi, full-width forms, and the emoji.
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1B000, 0x1B16F},
    {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

template <size_t N> bool In(const Range (&ranges)[N], char32_t c)
{
    return std::any_of(std::begin(ranges), std::end(ranges),
                       [c](const Range& r) { return c >= r.First && c <= r.Last; });
}

struct Character {
    size_t Bytes;
    size_t Columns;
};

// The character that starts at text[at]. A byte that starts no valid UTF-8 sequence is a
// character of its own, one column wide, as terminals show a replacement for it.
Character NextCharacter(std::string_view text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 1;
    char32_t c = lead;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, c = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, c = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, c = lead & 0x07;
    else if (lead >= 0x80)
        return {1, 1};
    if (at + length > text.size())
        return {1, 1};
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return {1, 1};
        c = (c << 6) | (byte(at + i) & 0x3F);
    }
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || In(kZeroWidth, c))
        return {length, 0};
    return {length, In(kWide, c) ? 2u : 1u};
}

} // namespace

size_t DisplayWidth(std::string_view text)
{
    size_t columns = 0;
    for (size_t at = 0; at < text.size();) {
        const Character c = NextCharacter(text, at);
        columns += c.Columns;
        at += c.Bytes;
    }
    return columns;
}

std::string FitToColumns(std::string_view text, size_t columns)
{
    size_t used = 0, at = 0;
    while (at < text.size()) {
        const Character c = NextCharacter(text, at);
        if (used + c.Columns > columns)
            break;
        used += c.Columns;
        at += c.Bytes;
    }
    return std::string(text.substr(0, at));
}

std::string JoinToFit(const std::vector<std::string>& parts, std::string_view separator,
                      size_t columns)
{
    if (parts.empty())
        return std::string();
    std::string line = FitToColumns(parts.front(), columns);
    size_t used = DisplayWidth(line);
    const size_t separatorWidth = DisplayWidth(separator);
    for (size_t i = 1; i < parts.size(); ++i) {
        const size_t width = separatorWidth + DisplayWidth(parts[i]);
        if (used + width > columns)
            break;
        line.append(separator).append(parts[i]);
        used += width;
    }
    return line;
}

std::string ClockTime(double seconds)
{
    const long long whole = std::max(0LL, std::llround(seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
    return text;
}

std::vector<std::string> BatchStatusParts(const BatchCounts& counts, double elapsedSeconds)
{
    const int done = counts.Converted + counts.Failed + counts.Skipped;
    std::vector<std::string> parts = {std::to_string(done) + "/" + std::to_string(counts.Total),
                                      ClockTime(elapsedSeconds)};
    if (const auto left = EstimateSecondsLeft(counts, elapsedSeconds))
        parts.push_back(txt::Format(txt::Id::StatusTimeLeft, {ClockTime(*left)}));
    if (counts.Running > 0)
        parts.push_back(txt::Format(txt::Id::StatusRunning, {std::to_string(counts.Running)}));
    if (counts.Failed > 0)
        parts.push_back(txt::Format(txt::Id::StatusFailed, {std::to_string(counts.Failed)}));
    if (counts.Skipped > 0)
        parts.push_back(txt::Format(txt::Id::StatusSkipped, {std::to_string(counts.Skipped)}));
    return parts;
}

} // namespace statusline

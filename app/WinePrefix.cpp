#include "app/WinePrefix.h"

#include "app/SettingsLayout.h"
#include "platform/CodePages.h"

#include <cctype>
#include <fstream>

namespace wineprefix {

namespace {

void AppendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Reads a quoted text of the registry file from at (just past the opening quote) up to the
// closing quote, undoing Wine's escapes: \\ \" and the C letters, \x and up to four hex digits
// for a UTF-16 unit, \ and up to three octal digits. Returns the units; at ends past the quote.
// Nothing when the quote does not close.
std::optional<std::u16string> Unquote(const std::string& line, size_t& at)
{
    std::u16string units;
    while (at < line.size()) {
        const char c = line[at++];
        if (c == '"')
            return units;
        if (c != '\\' || at >= line.size()) {
            units += static_cast<unsigned char>(c);
            continue;
        }
        const char e = line[at++];
        const auto digits = [&](int base, int most) {
            uint32_t v = 0;
            for (int n = 0; n < most && at < line.size(); ++n) {
                const char d = line[at];
                const int digit = std::isdigit(static_cast<unsigned char>(d)) ? d - '0'
                                  : base == 16 && std::isxdigit(static_cast<unsigned char>(d))
                                      ? std::tolower(static_cast<unsigned char>(d)) - 'a' + 10
                                      : -1;
                if (digit < 0 || digit >= base)
                    break;
                v = v * base + digit;
                ++at;
            }
            return v;
        };
        switch (e) {
        case 'x':
            units += static_cast<char16_t>(digits(16, 4));
            break;
        case 'a':
            units += u'\a';
            break;
        case 'b':
            units += u'\b';
            break;
        case 'e':
            units += u'\x1b';
            break;
        case 'f':
            units += u'\f';
            break;
        case 'n':
            units += u'\n';
            break;
        case 'r':
            units += u'\r';
            break;
        case 't':
            units += u'\t';
            break;
        case 'v':
            units += u'\v';
            break;
        default:
            if (e >= '0' && e <= '7') {
                --at;
                units += static_cast<char16_t>(digits(8, 3));
            } else {
                units += static_cast<unsigned char>(e);
            }
        }
    }
    return std::nullopt;
}

std::string ToUtf8(const std::u16string& units)
{
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        AppendUtf8(out, c);
    }
    return out;
}

// The name of a key header line ("[Software\\Vendor\\App] 1234567"), undone of its escapes.
std::optional<std::string> KeyName(const std::string& line)
{
    if (line.empty() || line[0] != '[')
        return std::nullopt;
    std::string raw;
    size_t at = 1;
    for (; at < line.size() && line[at] != ']'; ++at) {
        if (line[at] == '\\' && at + 1 < line.size())
            ++at; // "\\" is one backslash, "\]" a bracket
        raw += line[at];
    }
    if (at >= line.size())
        return std::nullopt;
    return raw;
}

} // namespace

std::optional<std::string> ReadUserString(const std::string& registryFile, const std::string& key,
                                          const std::string& value)
{
    std::ifstream in(registryFile, std::ios::binary);
    if (!in)
        return std::nullopt;
    bool inKey = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '[') {
            const auto name = KeyName(line);
            inKey = name && platform::SameNameIgnoringCase(*name, key);
            continue;
        }
        if (!inKey || line.empty() || line[0] != '"')
            continue;
        size_t at = 1;
        const auto name = Unquote(line, at);
        if (!name || !platform::SameNameIgnoringCase(ToUtf8(*name), value))
            continue;
        if (line.compare(at, 1, "=") != 0)
            return std::nullopt;
        ++at;
        // REG_SZ is a quoted text; REG_EXPAND_SZ carries str(2): before it.
        if (line.compare(at, 7, "str(2):") == 0)
            at += 7;
        if (line.compare(at, 1, "\"") != 0)
            return std::nullopt;
        ++at;
        const auto text = Unquote(line, at);
        if (!text)
            return std::nullopt;
        return ToUtf8(*text);
    }
    return std::nullopt;
}

#ifndef _WIN32

std::optional<std::string> HostPlayerPluginFolder(const std::string& prefix)
{
    const std::string key =
        std::string(settings::kHostPlayerKey) + "\\" + settings::kHostPlayerSearchPathKey;
    const auto player = ReadUserString(prefix + "/user.reg", key, settings::kHostPlayerValue);
    if (!player || player->empty())
        return std::nullopt;
    // The player's folder: its path up to the last delimiter, then its Plugins folder.
    const size_t cut = player->find_last_of("\\/");
    if (cut == std::string::npos)
        return std::nullopt;
    const auto folder = platform::MapDrivePath(prefix, player->substr(0, cut + 1) + "Plugins");
    if (!folder)
        return std::nullopt;
    return folder->Path;
}

#endif

} // namespace wineprefix

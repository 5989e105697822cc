#include "plugins/common/PluginText.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kpiplugin {

namespace {

// A plain array: a thread-local object with a destructor would keep the library loaded until
// every thread that opened a song has ended.
thread_local char tOpenError[1024];

// bytes converted from the code page named by from into UTF-8; false when a byte sequence has
// no meaning there.
bool Convert(const char* from, const std::string& bytes, std::string& utf8)
{
    iconv_t converter = ::iconv_open("UTF-8", from);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string in = bytes;
    std::string out(in.size() * 4 + 4, '\0');
    char* inAt = in.data();
    char* outAt = out.data();
    size_t inLeft = in.size(), outLeft = out.size();
    const bool ok = ::iconv(converter, &inAt, &inLeft, &outAt, &outLeft) != static_cast<size_t>(-1);
    ::iconv_close(converter);
    if (!ok)
        return false;
    out.resize(out.size() - outLeft);
    utf8 = std::move(out);
    return true;
}

} // namespace

void SetOpenError(const std::string& text)
{
    const size_t n = std::min(text.size(), sizeof tOpenError - 1);
    std::memcpy(tOpenError, text.data(), n);
    tOpenError[n] = '\0';
}

uint32_t CopyOpenError(char* buffer, uint32_t size)
{
    return CopyText(tOpenError, buffer, size);
}

uint32_t CopyText(const std::string& text, char* buffer, uint32_t size)
{
    if (buffer != nullptr && size > 0) {
        const size_t n = std::min<size_t>(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<uint32_t>(std::min<size_t>(text.size(), UINT32_MAX));
}

bool IsUtf8(const std::string& bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const unsigned char c = *p++;
        if (c < 0x80)
            continue;
        int more;
        uint32_t code;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (end - p < more)
            return false;
        for (int i = 0; i < more; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            code = code << 6 | (p[i] & 0x3F);
        }
        p += more;
        // Overlong forms, surrogates and code points past U+10FFFF.
        if ((more == 2 && code < 0x800) || (more == 3 && code < 0x10000) || code > 0x10FFFF ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
    }
    return true;
}

std::string TextOfFile(const std::string& bytes)
{
    if (IsUtf8(bytes))
        return bytes;
    std::string text;
    if (Convert("CP932", bytes, text) || Convert("WINDOWS-1252", bytes, text) ||
        Convert("ISO-8859-1", bytes, text))
        return text;
    return "";
}

std::string Decimal(int64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    return text;
}

std::string SystemMessage(int error)
{
    char text[256];
    // The GNU form returns the text, which need not be the buffer.
    return ::strerror_r(error, text, sizeof text);
}

} // namespace kpiplugin

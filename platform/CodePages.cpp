#include "platform/CodePages.h"

#include <cstdint>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cwctype>
#include <iconv.h>
#include <locale.h>
#endif

namespace platform {

namespace {

// The code point at text[i] of valid UTF-8, moving i past it.
char32_t NextCodePoint(std::string_view text, size_t& i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        ++i;
        return lead;
    }
    const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    char32_t code = lead & (0x3F >> (length - 1));
    for (int k = 1; k < length; ++k)
        code = (code << 6) | (byte(i + k) & 0x3F);
    i += length;
    return code;
}

#ifdef _WIN32

std::optional<std::wstring> ToWide(const std::string& text, UINT codePage)
{
    if (text.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        wide.data(), n);
    return wide;
}

std::optional<std::string> FromWide(const std::wstring& wide, UINT codePage)
{
    if (wide.empty())
        return std::string();
    BOOL lossy = FALSE;
    // UTF-8 takes no default-character flag; every other code page reports what it lost.
    BOOL* lossyFlag = codePage == CP_UTF8 ? nullptr : &lossy;
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, lossyFlag);
    if (n <= 0 || lossy)
        return std::nullopt;
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                        nullptr, nullptr);
    return text;
}

#else

// Upper-casing by character needs a UTF-8 character table whatever locale the process runs in;
// glibc always has C.UTF-8.
locale_t Utf8Locale()
{
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return locale;
}

char32_t UpperCase(char32_t c)
{
    if (c < 0x80)
        return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
    const locale_t locale = Utf8Locale();
    if (locale == static_cast<locale_t>(0))
        return c;
    return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale));
}

#endif

} // namespace

bool IsValidUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        int length;
        char32_t minimum;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            minimum = 0x10000;
        } else {
            return false; // a continuation byte, an overlong lead (C0, C1) or beyond F4
        }
        if (i + length > text.size())
            return false;
        for (int k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        size_t next = i;
        const char32_t code = NextCodePoint(text, next);
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i = next;
    }
    return true;
}

#ifdef _WIN32

// Texts are UTF-8 inside the program on Windows too; what comes from outside in a code page is
// turned into it here.
std::optional<std::string> FromCodePage932(const std::string& text)
{
    const auto wide = ToWide(text, 932);
    if (!wide)
        return std::nullopt;
    return FromWide(*wide, CP_UTF8);
}

std::string SystemTextOf(const std::string& text)
{
    if (IsValidUtf8(text))
        return text;
    if (const auto japanese = FromCodePage932(text))
        return *japanese;
    // Not Japanese either: the text of a program of this system's own code page.
    if (const auto wide = ToWide(text, CP_ACP))
        if (const auto converted = FromWide(*wide, CP_UTF8))
            return *converted;
    return text;
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b)
{
    auto wa = ToWide(a, CP_UTF8);
    auto wb = ToWide(b, CP_UTF8);
    if (!wa || !wb)
        return a == b;
    if (wa->size() != wb->size())
        return false;
    CharUpperBuffW(wa->data(), static_cast<DWORD>(wa->size()));
    CharUpperBuffW(wb->data(), static_cast<DWORD>(wb->size()));
    return *wa == *wb;
}

#else

std::optional<std::string> FromCodePage932(const std::string& text)
{
    // CP932 rather than SHIFT_JIS: Windows reads 0x5C as a backslash, the separator of the
    // paths these texts hold, where plain Shift_JIS reads a yen sign.
    iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string result;
    std::vector<char> buffer(text.size() * 3 + 16);
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    bool ok = true;
    while (inLeft > 0) {
        char* out = buffer.data();
        size_t outLeft = buffer.size();
        const size_t n = iconv(converter, &in, &inLeft, &out, &outLeft);
        result.append(buffer.data(), buffer.size() - outLeft);
        if (n == static_cast<size_t>(-1) && errno != E2BIG) {
            ok = false; // an undefined or cut-off byte sequence
            break;
        }
    }
    iconv_close(converter);
    if (!ok)
        return std::nullopt;
    return result;
}

std::string SystemTextOf(const std::string& text)
{
    if (IsValidUtf8(text))
        return text;
    return FromCodePage932(text).value_or(text);
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b)
{
    if (a == b)
        return true;
    // Names that are not UTF-8 are compared as bytes: there is no character to fold.
    if (!IsValidUtf8(a) || !IsValidUtf8(b))
        return false;
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (UpperCase(NextCodePoint(a, i)) != UpperCase(NextCodePoint(b, j)))
            return false;
    return i == a.size() && j == b.size();
}

#endif

} // namespace platform

// Texts between code pages. The program's texts are bytes in the system code page (UTF-8 here,
// the ANSI code page on Windows); playlists written on Japanese Windows hold Shift_JIS (code
// page 932) and reach a Linux machine unchanged.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Whether text is well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing beyond U+10FFFF.
bool IsValidUtf8(std::string_view text);

// text, read as code page 932, in the system code page; none when text holds a byte sequence
// that code page 932 does not define or a character the system code page cannot hold.
std::optional<std::string> FromCodePage932(const std::string& text);

// text in the system code page for showing it: as it is when it already reads as such, else
// read as code page 932, else as it is.
std::string SystemTextOf(const std::string& text);

// Whether two names in the system code page are the same when letter case is ignored, as
// Windows compares file names: each character upper-cased on its own, letters beyond ASCII
// included (full-width Latin, Greek, Cyrillic).
bool SameNameIgnoringCase(const std::string& a, const std::string& b);

} // namespace platform

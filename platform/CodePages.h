// Texts between code pages. The program's texts are UTF-8 (on Windows too, where the platform
// layer speaks UTF-16 to the system); playlists written on Japanese Windows hold Shift_JIS (code
// page 932) and reach this program unchanged.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Whether text is well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing beyond U+10FFFF.
bool IsValidUtf8(std::string_view text);

// text, read as code page 932, in UTF-8; none when text holds a byte sequence that code page
// 932 does not define.
std::optional<std::string> FromCodePage932(const std::string& text);

// text in UTF-8 for showing it: as it is when it already reads as such, else
// read as code page 932, else as it is.
std::string SystemTextOf(const std::string& text);

// Whether two UTF-8 names are the same when letter case is ignored, as
// Windows compares file names: each character upper-cased on its own, letters beyond ASCII
// included (full-width Latin, Greek, Cyrillic).
bool SameNameIgnoringCase(const std::string& a, const std::string& b);

} // namespace platform

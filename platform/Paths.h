// Path texts as the program handles them: byte strings in the system code page, split at the
// platform's delimiters. A file's extension is the text from its last dot that no delimiter
// follows.
#pragma once

#include <string>

namespace platform {

#ifdef _WIN32
inline constexpr char kPathDelimiter = '\\';
// Windows takes a slash for a backslash ("out/song.wav" names a file in the folder out), and a
// drive colon ends a folder part as they do ("C:song.mid").
inline constexpr const char* kFolderDelimiters = "\\/";
inline constexpr const char* kNameDelimiters = "\\/:";
#else
inline constexpr char kPathDelimiter = '/';
inline constexpr const char* kFolderDelimiters = "/";
inline constexpr const char* kNameDelimiters = "/";
#endif

// The folder part of path, including its trailing delimiter ("" when there is none).
std::string ExtractFilePath(const std::string& path);
// The part after the folder part.
std::string ExtractFileName(const std::string& path);
// The extension with its dot (".mid"), or "" when the name has no dot.
std::string ExtractFileExt(const std::string& path);
// path with its extension replaced by ext (ext includes the dot; "" removes the extension).
std::string ChangeFileExt(const std::string& path, const std::string& ext);
// folder followed by one delimiter (none added when folder already ends in one).
std::string IncludeTrailingDelimiter(const std::string& folder);
std::string ExcludeTrailingDelimiter(const std::string& folder);
bool IsAbsolutePath(const std::string& path);

} // namespace platform

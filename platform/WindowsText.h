// Texts between the encodings a Windows process meets: UTF-8 (what the program on Linux sends),
// UTF-16 (the system's own) and the ANSI code page (what plug-ins of the host player were
// written for). Plug-ins get file names in the ANSI code page; a name that the code page cannot
// hold is given as its short 8.3 name, as Windows programs of their time did.
#pragma once

#ifdef _WIN32

#include <optional>
#include <string>

namespace platform {

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
std::wstring AnsiToWide(const std::string& text);
// The text in the ANSI code page; nothing when a character has no place in it.
std::optional<std::string> WideToAnsi(const std::wstring& text);

// UTF-8 text in another code page (932 for the run log, as the host player's tools write
// theirs); a character the code page lacks becomes its default character.
std::string Utf8ToCodePage(const std::string& text, unsigned codePage);

// The system's text for an error code in UTF-8, without the line break it ends with, followed
// by the code itself: "The specified module could not be found. (error 126)".
std::string SystemErrorText(unsigned long code);
// The same for a text that names a file with the placeholder %1 ("Bad EXE format for %1."):
// the file's name stands in its place.
std::string SystemErrorText(unsigned long code, const std::string& fileName);

// Whether this process runs under Wine rather than on Windows.
bool RunsUnderWine();

// The Windows path of a path of the Unix system under Wine: Wine's own mapping when the process
// runs under Wine, else drive Z: (Wine's root drive) followed by the path with backslashes.
std::wstring DosPathOfUnixPath(const std::string& unixPath);

// path as a plug-in gets it: in the ANSI code page, or as its short name when the code page
// cannot hold it (or, when there is no short name either, with the characters the code page
// lacks replaced, which the plug-in then fails to open like any missing file).
std::string AnsiFileName(const std::wstring& path);

} // namespace platform

#endif

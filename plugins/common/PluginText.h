// The texts the reference plug-ins give the program through their optional entries
// (kpi/KpiExtension.h): the reason of the last failed Open, kept per thread as the entries ask,
// and the songs' own texts, in UTF-8 whatever character set the file held them in.
//
// Nothing here may keep a plug-in loaded once its host lets it go: no std::to_string (its digit
// table is a unique symbol) and no thread-local object with a destructor.
#pragma once

#include <cstdint>
#include <string>

namespace kpiplugin {

// The reason of the last Open on the calling thread; Open sets "" as it starts and the reason
// at each failure.
void SetOpenError(const std::string& text);
// The body of pellan_GetOpenError.
uint32_t CopyOpenError(char* buffer, uint32_t size);

// text into a caller's buffer as the optional entries do it: at most size bytes written, the
// terminating NUL included, and the whole length returned.
uint32_t CopyText(const std::string& text, char* buffer, uint32_t size);

// Whether bytes are well-formed UTF-8.
bool IsUtf8(const std::string& bytes);
// A text from a file in UTF-8: as it is when it already is; else read as code page 932 (files
// made on Japanese systems), where it reads as such; else as Windows-1252.
std::string TextOfFile(const std::string& bytes);

// A number in decimal.
std::string Decimal(int64_t value);
// The system's message for an errno value.
std::string SystemMessage(int error);

} // namespace kpiplugin

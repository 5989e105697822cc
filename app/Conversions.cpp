#include "app/Conversions.h"

#include "platform/Errors.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

uint32_t StrToCardinal(const std::string& text)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    const bool whole = !text.empty() && end == begin + text.size() && errno == 0 &&
                       value >= INT32_MIN && value <= INT32_MAX && text[0] != ' ' &&
                       text[0] != '\t';
    // The runtime's own messages, the same in every language. Logged as they stand, they carry
    // no mark of an error, and the log has always shown them as information.
    if (!whole)
        throw EZoError("'" + text + "' is not a valid integer value", txt::Severity::Information);
    if (value < 0)
        throw EZoError("Range check error", txt::Severity::Information);
    return static_cast<uint32_t>(value);
}

#include "app/Version.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>
#endif

namespace {

std::string ReadFileVersionText()
{
#ifdef _WIN32
    char path[MAX_PATH + 1];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return std::string();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0)
        return std::string();
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path, 0, size, data.data()))
        return std::string();
    char* value = nullptr;
    UINT valueLength = 0;
    // Japanese (0x0411) in code page 932 (0x03A4).
    if (!VerQueryValueA(data.data(), "\\StringFileInfo\\041103A4\\FileVersion",
                        reinterpret_cast<void**>(&value), &valueLength) ||
        value == nullptr)
        return std::string();
    return std::string(value);
#else
    // No version resource on this platform: the build supplies the text.
    return PELLAN_VERSION_TEXT;
#endif
}

} // namespace

const std::string& FileVersionText()
{
    static const std::string text = ReadFileVersionText();
    return text;
}

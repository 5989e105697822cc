#include "app/Version.h"

#ifdef _WIN32
#include "platform/WindowsText.h"

#include <windows.h>

#include <vector>
#endif

namespace {

std::string ReadFileVersionText()
{
#ifdef _WIN32
    // The wide functions: the program's folder may have a name that the ANSI code page lacks.
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (length == 0)
            return std::string();
        if (length < path.size())
            break;
        path.resize(path.size() * 2);
    }
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.data(), &ignored);
    if (size == 0)
        return std::string();
    std::vector<char> data(size);
    if (!GetFileVersionInfoW(path.data(), 0, size, data.data()))
        return std::string();
    wchar_t* value = nullptr;
    UINT valueLength = 0;
    // Japanese (0x0411) in code page 932 (0x03A4).
    if (!VerQueryValueW(data.data(), L"\\StringFileInfo\\041103A4\\FileVersion",
                        reinterpret_cast<void**>(&value), &valueLength) ||
        value == nullptr)
        return std::string();
    // The length counts the terminator when there is one.
    std::wstring text(value, valueLength);
    if (const size_t end = text.find(L'\0'); end != std::wstring::npos)
        text.resize(end);
    return platform::WideToUtf8(text);
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

#include "platform/WindowsText.h"

#include "platform/FileSystem.h"

#ifdef _WIN32

#include <windows.h>

#include <vector>

namespace platform {

namespace {

std::wstring ToWide(UINT codePage, const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int n =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// Exported by Wine's kernel32 only: the DOS name of a Unix path, allocated on the process
// heap.
using DosFileNameProc = WCHAR*(CDECL*)(const char* unixName);

} // namespace

std::wstring Utf8ToWide(const std::string& text)
{
    return ToWide(CP_UTF8, text);
}

std::wstring AnsiToWide(const std::string& text)
{
    return ToWide(CP_ACP, text);
}

std::string WideToUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n,
                        nullptr, nullptr);
    return bytes;
}

std::string Utf8ToCodePage(const std::string& text, unsigned codePage)
{
    const std::wstring wide = Utf8ToWide(text);
    if (wide.empty())
        return std::string();
    const int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), n,
                        nullptr, nullptr);
    return bytes;
}

std::string SystemErrorText(unsigned long code)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : L"";
    if (buffer != nullptr)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return WideToUtf8(text) + " (error " + std::to_string(code) + ")";
}

std::string SystemErrorText(unsigned long code, const std::string& fileName)
{
    std::string text = SystemErrorText(code);
    for (size_t at = text.find("%1"); at != std::string::npos;
         at = text.find("%1", at + fileName.size()))
        text.replace(at, 2, fileName);
    return text;
}

bool RunsUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::optional<std::string> WideToAnsi(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    // No best-fit mapping: a look-alike character would name another file.
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy)
        return std::nullopt;
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                        bytes.data(), n, nullptr, &lossy);
    if (lossy)
        return std::nullopt;
    return bytes;
}

std::wstring DosPathOfUnixPath(const std::string& unixPath)
{
    const auto toDos = reinterpret_cast<DosFileNameProc>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (toDos != nullptr) {
        if (WCHAR* dos = toDos(unixPath.c_str())) {
            std::wstring path(dos);
            HeapFree(GetProcessHeap(), 0, dos);
            return path;
        }
    }
    std::wstring path = L"Z:" + Utf8ToWide(unixPath);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

std::string AnsiFileName(const std::wstring& path)
{
    // A plug-in's ANSI file functions stop at MAX_PATH; the short form of a longer path is
    // usually well within it.
    if (path.size() >= MAX_PATH) {
        const std::wstring extended = WidePath(WideToUtf8(path));
        std::vector<wchar_t> shortName(extended.size() + 1);
        const DWORD n = GetShortPathNameW(extended.c_str(), shortName.data(),
                                          static_cast<DWORD>(shortName.size()));
        std::wstring found(shortName.data(), n < shortName.size() ? n : 0);
        if (found.rfind(L"\\\\?\\", 0) == 0 && found.rfind(L"\\\\?\\UNC\\", 0) != 0)
            found.erase(0, 4);
        if (!found.empty() && found.size() < MAX_PATH)
            if (const auto ansi = WideToAnsi(found))
                return *ansi;
    }
    if (const auto ansi = WideToAnsi(path))
        return *ansi;
    const DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (size > 0) {
        std::vector<wchar_t> shortName(size);
        const DWORD n = GetShortPathNameW(path.c_str(), shortName.data(), size);
        if (n > 0 && n < size) {
            if (const auto ansi = WideToAnsi(std::wstring(shortName.data(), n)))
                return *ansi;
        }
    }
    const int n = WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, path.data(), static_cast<int>(path.size()), bytes.data(), n,
                        nullptr, nullptr);
    return bytes;
}

} // namespace platform

#endif

#include "platform/Registry.h"

#ifdef _WIN32

#include "platform/WindowsText.h"

#include <windows.h>

#include <utility>

namespace platform {

namespace {

std::optional<RegistryKey> OpenUnder(HKEY parent, const std::string& path, bool writable,
                                     RegistryKey (*own)(HKEY))
{
    HKEY key = nullptr;
    const REGSAM access = writable ? KEY_READ | KEY_WRITE : KEY_READ;
    if (RegOpenKeyExW(parent, Utf8ToWide(path).c_str(), 0, access, &key) != ERROR_SUCCESS)
        return std::nullopt;
    return own(key);
}

std::optional<RegistryKey> CreateUnder(HKEY parent, const std::string& path,
                                       RegistryKey (*own)(HKEY))
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(parent, Utf8ToWide(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return std::nullopt;
    return own(key);
}

} // namespace

// The constructor is private; the helpers above get at it through this.
struct RegistryKeyMaker {
    static RegistryKey Make(HKEY key) { return RegistryKey(key); }
};

std::optional<RegistryKey> RegistryKey::Open(const std::string& path, bool writable)
{
    return OpenUnder(HKEY_CURRENT_USER, path, writable, &RegistryKeyMaker::Make);
}

std::optional<RegistryKey> RegistryKey::Create(const std::string& path)
{
    return CreateUnder(HKEY_CURRENT_USER, path, &RegistryKeyMaker::Make);
}

std::optional<RegistryKey> RegistryKey::OpenSubKey(const std::string& path, bool writable) const
{
    return OpenUnder(FKey, path, writable, &RegistryKeyMaker::Make);
}

std::optional<RegistryKey> RegistryKey::CreateSubKey(const std::string& path) const
{
    return CreateUnder(FKey, path, &RegistryKeyMaker::Make);
}

RegistryKey::RegistryKey(RegistryKey&& other) noexcept : FKey(std::exchange(other.FKey, nullptr)) {}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept
{
    if (this != &other) {
        if (FKey != nullptr)
            RegCloseKey(FKey);
        FKey = std::exchange(other.FKey, nullptr);
    }
    return *this;
}

RegistryKey::~RegistryKey()
{
    if (FKey != nullptr)
        RegCloseKey(FKey);
}

std::optional<std::string> RegistryKey::ReadString(const std::string& name) const
{
    const std::wstring wideName = Utf8ToWide(name);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(FKey, wideName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    // Another program may change the value between the two calls: ask again while it grows.
    std::wstring text;
    for (;;) {
        text.assign(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        const LONG status = RegQueryValueExW(FKey, wideName.c_str(), nullptr, &type,
                                             reinterpret_cast<BYTE*>(text.data()), &got);
        if (status == ERROR_MORE_DATA) {
            size = got;
            continue;
        }
        if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            return std::nullopt;
        text.resize(got / sizeof(wchar_t));
        break;
    }
    // A string value need not carry its terminator, and may carry more than one.
    const size_t end = text.find(L'\0');
    if (end != std::wstring::npos)
        text.resize(end);
    return WideToUtf8(text);
}

std::optional<uint32_t> RegistryKey::ReadDword(const std::string& name) const
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(FKey, Utf8ToWide(name).c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    return static_cast<uint32_t>(value);
}

bool RegistryKey::WriteString(const std::string& name, const std::string& value)
{
    const std::wstring wide = Utf8ToWide(value);
    return RegSetValueExW(FKey, Utf8ToWide(name).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(wide.c_str()),
                          static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool RegistryKey::WriteDword(const std::string& name, uint32_t value)
{
    const DWORD data = value;
    return RegSetValueExW(FKey, Utf8ToWide(name).c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
}

std::vector<std::string> RegistryKey::SubKeyNames() const
{
    std::vector<std::string> names;
    DWORD longest = 0;
    if (RegQueryInfoKeyW(FKey, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return names;
    std::wstring name;
    for (DWORD index = 0;; ++index) {
        name.assign(longest + 1, L'\0');
        DWORD length = static_cast<DWORD>(name.size());
        const LONG status =
            RegEnumKeyExW(FKey, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) {
            // A longer name was added since the key was asked: make room and ask again.
            longest = longest * 2 + 256;
            --index;
            continue;
        }
        if (status != ERROR_SUCCESS)
            break;
        names.push_back(WideToUtf8(name.substr(0, length)));
    }
    return names;
}

bool RegistryKey::DeleteSubKeyTree(const std::string& path)
{
    if (path.empty())
        return false;
    const LONG status = RegDeleteTreeW(FKey, Utf8ToWide(path).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

void RegistryKey::Flush()
{
    RegFlushKey(FKey);
}

} // namespace platform

#endif

#include "tests/win32ui/WindowFixture.h"

#include "app/KbMPath.h"
#include "app/SettingsStore.h"
#include "ui/win32/Win32Controls.h"

#include <commctrl.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace win32test {

namespace {

constexpr const wchar_t* kProgramKey = L"Software\\Quenz\\PellanDecoder";

std::wstring KeyPath(const std::string& key)
{
    return std::wstring(kProgramKey) + (key.empty() ? L"" : L"\\" + Wide(key));
}

} // namespace

std::string Utf8(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path PathOf(const std::string& utf8)
{
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string TextOf(HWND control)
{
    return WindowTextOf(control);
}

void SetText(HWND control, const std::string& text)
{
    SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

void Click(HWND button)
{
    SendMessageW(button, BM_CLICK, 0, 0);
}

void Pump(int milliseconds)
{
    const DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                continue; // a window closed in a test ends no loop here
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (milliseconds > 0)
            Sleep(1);
    } while (static_cast<LONG>(GetTickCount() - end) < 0);
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > static_cast<DWORD>(timeoutMs))
            return false;
        Pump();
        Sleep(1);
    }
    return true;
}

TestPluginCopy::TestPluginCopy(const std::string& path,
                               const std::map<std::string, std::string>& conf)
    : FPath(path)
{
    const char* built = std::getenv("PELLAN_TEST_PLUGIN_DLL");
    if (built == nullptr)
        throw std::runtime_error("PELLAN_TEST_PLUGIN_DLL names no Windows test plug-in");
    fs::copy_file(PathOf(built), PathOf(path), fs::copy_options::overwrite_existing);
    std::ofstream out(PathOf(path + ".conf"), std::ios::binary);
    for (const auto& [key, value] : conf)
        out << key << '=' << value << '\n';
    out.close();
    // The same library instance as the program's: its counts are this copy's.
    FModule = LoadLibraryW(Wide(path).c_str());
    if (FModule == nullptr)
        throw std::runtime_error("cannot load " + path);
}

TestPluginCopy::~TestPluginCopy()
{
    FreeLibrary(FModule);
}

TestKpiCounts TestPluginCopy::Counts() const
{
    TestKpiCounts counts{};
    if (auto get = reinterpret_cast<TestKpiGetCountsProc>(
            reinterpret_cast<void*>(GetProcAddress(FModule, "testkpi_GetCounts"))))
        get(&counts);
    return counts;
}

WindowFixture::WindowFixture()
{
    // The settings live in the registry; only a registry the test run owns may be changed.
    if (std::getenv("PELLAN_TEST_REGISTRY_IS_PRIVATE") == nullptr)
        throw std::runtime_error("these tests change the registry: run them in the private Wine "
                                 "prefix of the test run (PELLAN_TEST_REGISTRY_IS_PRIVATE)");
    RegDeleteTreeW(HKEY_CURRENT_USER, kProgramKey);
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    for (unsigned n = GetTickCount();; ++n) {
        Dir = fs::path(temp) / ("pellan-win32-" + std::to_string(n));
        if (fs::create_directory(Dir))
            break;
    }
    PluginFolder = Path("plugins");
    fs::create_directories(PathOf(PluginFolder));
    ClearEndRequest();
    Restart();
}

WindowFixture::~WindowFixture()
{
    AppRegistry = nullptr;
    RunLog = nullptr;
    Registry.reset();
    Store.reset();
    ClearEndRequest();
    Plugins.clear();
    std::error_code ignored;
    fs::remove_all(Dir, ignored);
}

void WindowFixture::Restart()
{
    Registry.reset();
    Store.reset();
    Store = MakeTestSettingsStore();
    Registry = std::make_unique<TAppRegistry>(*Store);
    AppRegistry = Registry.get();
    Log = std::make_unique<TRunLog>();
    RunLog = Log.get();
    ClearEndRequest();
}

void WindowFixture::UsePluginFolder(const std::string& folder)
{
    AppRegistry->WriteString("SearchPath", "Plugins", folder);
}

TestPluginCopy& WindowFixture::AddPlugin(const std::string& relativePath,
                                         const std::map<std::string, std::string>& conf)
{
    const fs::path path = PathOf(PluginFolder) / PathOf(relativePath);
    fs::create_directories(path.parent_path());
    Plugins.push_back(std::make_unique<TestPluginCopy>(Utf8(path), conf));
    return *Plugins.back();
}

std::unique_ptr<TfrmMain> WindowFixture::Open()
{
    TfrmMain::Places places;
    places.CacheFolder = Utf8(Dir);
    places.BundledPluginFolder = "";
    return std::make_unique<TfrmMain>(Dialogs, places);
}

void WindowFixture::StoreSetting(const std::string& name, DWORD rate, DWORD bits, DWORD channels,
                                 DWORD lengthS, DWORD fadeMs)
{
    const std::wstring key = KeyPath("DecodeSettings\\" + name);
    const std::pair<const wchar_t*, DWORD> values[] = {{L"SamplingFrequency", rate},
                                                       {L"BitsPerSample", bits},
                                                       {L"Channels", channels},
                                                       {L"DefaultLength", lengthS},
                                                       {L"FadeoutLength", fadeMs}};
    for (const auto& [value, number] : values)
        RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), value, REG_DWORD, &number, sizeof number);
}

int64_t WindowFixture::StoredNumber(const std::string& key, const std::string& value) const
{
    DWORD number = 0, size = sizeof number;
    if (RegGetValueW(HKEY_CURRENT_USER, KeyPath(key).c_str(), Wide(value).c_str(), RRF_RT_REG_DWORD,
                     nullptr, &number, &size) != ERROR_SUCCESS)
        return -1;
    return number;
}

bool WindowFixture::KeyExists(const std::string& key) const
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath(key).c_str(), 0, KEY_READ, &handle) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

std::vector<std::string> WindowFixture::LogLines(const TfrmMain& window)
{
    std::vector<std::string> lines;
    const auto count = SendMessageW(window.lstLog, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring text(static_cast<size_t>(SendMessageW(window.lstLog, LB_GETTEXTLEN, i, 0)),
                          L'\0');
        SendMessageW(window.lstLog, LB_GETTEXT, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(text.data()));
        lines.push_back(Narrow(text));
    }
    return lines;
}

std::string WindowFixture::LastLine(const TfrmMain& window)
{
    const auto lines = LogLines(window);
    return lines.empty() ? std::string() : lines.back();
}

std::vector<std::vector<std::string>> WindowFixture::Rows(const TfrmMain& window)
{
    std::vector<std::vector<std::string>> rows;
    const auto count = SendMessageW(window.lvwDecodeSettings, LVM_GETITEMCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::vector<std::string> row;
        for (int column = 0; column < 6; ++column) {
            wchar_t text[256] = L"";
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = text;
            item.cchTextMax = 256;
            SendMessageW(window.lvwDecodeSettings, LVM_GETITEMTEXTW, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(&item));
            row.push_back(Narrow(text));
        }
        rows.push_back(row);
    }
    return rows;
}

void WindowFixture::SelectRow(const TfrmMain& window, int row)
{
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(window.lvwDecodeSettings, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
}

bool WindowFixture::Choose(HWND list, const std::string& text)
{
    const auto index = SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                    reinterpret_cast<LPARAM>(Wide(text).c_str()));
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    return index >= 0;
}

} // namespace win32test

// The Win32 window in this process, over the Windows build of the test plug-in, with its
// settings in the registry of the test run's own Wine prefix and its files in a temporary
// folder; and the window messages the tests drive its controls with, as a person's clicks and
// keys would reach them.
#pragma once

#include "app/KbMD_Common.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/testplugin/TestPluginApi.h"
#include "ui/win32/MainWnd.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class ISettingsStore;

// The store the window program uses: the registry.
std::unique_ptr<ISettingsStore> MakeTestSettingsStore();

namespace win32test {

// Paths as UTF-8 texts, as the program's core holds them, and back.
std::string Utf8(const std::filesystem::path& path);
std::filesystem::path PathOf(const std::string& utf8);

// Wide and UTF-8 texts of controls.
std::string TextOf(HWND control);
void SetText(HWND control, const std::string& text); // WM_SETTEXT, as typing ends up
void Click(HWND button);                             // BM_CLICK
// Runs the window messages (and so the decoder threads' calls) until done() holds; false on
// time-out.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000);
void Pump(int milliseconds = 0);

// A copy of the Windows test plug-in with its configuration beside it. Its counts are read
// from the same library instance that the program loads.
class TestPluginCopy {
public:
    TestPluginCopy(const std::string& path, const std::map<std::string, std::string>& conf);
    ~TestPluginCopy();
    TestKpiCounts Counts() const;

private:
    std::string FPath;
    HMODULE FModule = nullptr;
};

struct WindowFixture : ::testing::Test {
    WindowFixture();
    ~WindowFixture() override;

    std::filesystem::path Dir; // removed afterwards
    std::string PluginFolder;  // Dir\plugins
    testsupport::ScriptedDialogs Dialogs;
    std::unique_ptr<ISettingsStore> Store;
    std::unique_ptr<TAppRegistry> Registry;
    std::unique_ptr<TRunLog> Log;
    std::vector<std::unique_ptr<TestPluginCopy>> Plugins;

    std::string Path(const std::string& name) const { return (Dir / name).string(); }
    void UsePluginFolder(const std::string& folder);
    TestPluginCopy& AddPlugin(const std::string& relativePath,
                              const std::map<std::string, std::string>& conf = {});
    std::unique_ptr<TfrmMain> Open();
    // Closes the store and opens it again, with a new run log, as a restart would.
    void Restart();
    // A decode setting in the registry, as an earlier run would have left it.
    void StoreSetting(const std::string& name, DWORD rate, DWORD bits, DWORD channels,
                      DWORD lengthS, DWORD fadeMs);
    // A REG_DWORD below the program's key; -1 when missing or of another type.
    int64_t StoredNumber(const std::string& key, const std::string& value) const;
    bool KeyExists(const std::string& key) const;

    // The log list's lines, and its last line ("" when there is none).
    static std::vector<std::string> LogLines(const TfrmMain& window);
    static std::string LastLine(const TfrmMain& window);
    // The settings list's rows, name first.
    static std::vector<std::vector<std::string>> Rows(const TfrmMain& window);
    static void SelectRow(const TfrmMain& window, int row);
    // Selects a drop-down list's item by its text, as CB_SETCURSEL does: no change is reported.
    static bool Choose(HWND list, const std::string& text);
};

} // namespace win32test

// The settings store on the registry, under Wine: what it writes is the registry layout that
// other programs read (REG_SZ and REG_DWORD values under the program's key), and what other
// programs wrote it reads, names in any script included.
#include "app/RegistrySettingsStore.h"
#include "app/DecodeSettings.h"
#include "app/SettingsLayout.h"
#include "platform/WindowsText.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

// Each test keeps its keys under a key of its own, so that tests may share one registry.
class RegistryStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        FRoot = std::string("Software\\Quenz\\PellanDecoderTests\\") + info->name() + "-" +
                std::to_string(GetCurrentProcessId());
        RegDeleteTreeW(HKEY_CURRENT_USER, platform::Utf8ToWide(FRoot).c_str());
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, platform::Utf8ToWide(FRoot).c_str());
    }

    std::string ProgramKey() const { return FRoot + "\\Program"; }
    std::string HostPlayerKey() const { return FRoot + "\\Player"; }

    // The type and size of a value as the registry holds it; 0 and 0 when it is missing.
    static std::pair<DWORD, DWORD> RawValue(const std::string& key, const std::string& name)
    {
        DWORD type = 0, size = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, platform::Utf8ToWide(key).c_str(),
                         platform::Utf8ToWide(name).c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type,
                         nullptr, &size) != ERROR_SUCCESS)
            return {0, 0};
        return {type, size};
    }

    static bool KeyPresent(const std::string& key)
    {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, platform::Utf8ToWide(key).c_str(), 0, KEY_READ,
                          &opened) != ERROR_SUCCESS)
            return false;
        RegCloseKey(opened);
        return true;
    }

    // Runs Wine's (or Windows's) own reg.exe, as another program writing the registry would.
    static void RegAdd(const std::wstring& arguments)
    {
        std::wstring line = L"reg.exe add " + arguments + L" /f";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                   nullptr, nullptr, &startup, &process))
            << "cannot start reg.exe: error " << GetLastError();
        WaitForSingleObject(process.hProcess, 60000);
        DWORD status = 1;
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        ASSERT_EQ(status, 0u) << "reg.exe add failed";
    }

    std::wstring WideKey(const std::string& key) const
    {
        return L"\"HKCU\\" + platform::Utf8ToWide(key) + L"\"";
    }

private:
    std::string FRoot;
};

} // namespace

TEST_F(RegistryStoreTest, OpeningCreatesTheProgramKey)
{
    EXPECT_FALSE(KeyPresent(ProgramKey()));
    TRegistrySettingsStore store(ProgramKey(), HostPlayerKey());
    EXPECT_TRUE(KeyPresent(ProgramKey()));
    EXPECT_TRUE(store.SubKeys("").empty());
}

TEST_F(RegistryStoreTest, TheRealKeyIsTheProgramsKeyOfTheCurrentUser)
{
    // The store that the programs make: HKEY_CURRENT_USER\Software\Quenz\PellanDecoder.
    TRegistrySettingsStore store;
    EXPECT_TRUE(KeyPresent(settings::kProgramKey));
    store.WriteString("TestsWereHere", "Value", "1");
    EXPECT_EQ(RawValue(std::string(settings::kProgramKey) + "\\TestsWereHere", "Value").first,
              DWORD(REG_SZ));
    store.DeleteKey("TestsWereHere");
    EXPECT_FALSE(store.KeyExists("TestsWereHere"));
}

TEST_F(RegistryStoreTest, WritesStringsAsRegSzAndNumbersAsRegDwordThatANewStoreReadsBack)
{
    const std::string folder = "C:\\Program Files\\KbMedia Player\\Plugins\\日本語";
    {
        TRegistrySettingsStore store(ProgramKey(), HostPlayerKey());
        store.WriteString(settings::kSearchPathKey, settings::kPluginsValue, folder);
        store.WriteInteger("DecodeSettings\\CD", "SamplingFrequency", 44100);
        store.WriteInteger("DecodeSettings\\CD", "Channels", 0xFFFFFFFFu);
        store.Flush();
    }
    const std::string searchPath = ProgramKey() + "\\SearchPath";
    EXPECT_EQ(RawValue(searchPath, "Plugins"),
              std::make_pair(DWORD(REG_SZ),
                             DWORD((platform::Utf8ToWide(folder).size() + 1) * sizeof(wchar_t))));
    EXPECT_EQ(RawValue(ProgramKey() + "\\DecodeSettings\\CD", "SamplingFrequency"),
              std::make_pair(DWORD(REG_DWORD), DWORD(4)));

    TRegistrySettingsStore again(ProgramKey(), HostPlayerKey());
    EXPECT_EQ(again.ReadString("SearchPath", "Plugins"), folder);
    EXPECT_EQ(again.ReadInteger("DecodeSettings\\CD", "SamplingFrequency"), 44100u);
    EXPECT_EQ(again.ReadInteger("DecodeSettings\\CD", "Channels"), 0xFFFFFFFFu);
    EXPECT_TRUE(again.KeyExists("DecodeSettings\\CD"));
    EXPECT_FALSE(again.KeyExists("DecodeSettings\\DVD"));
}

TEST_F(RegistryStoreTest, AValueOfAnotherTypeOrAMissingOneReadsAsNothing)
{
    TRegistrySettingsStore store(ProgramKey(), HostPlayerKey());
    store.WriteString("DecodeSettings\\x", "SamplingFrequency", "44100");
    store.WriteInteger("DecodeSettings\\x", "Channels", 2);
    EXPECT_EQ(store.ReadInteger("DecodeSettings\\x", "SamplingFrequency"), std::nullopt);
    EXPECT_EQ(store.ReadString("DecodeSettings\\x", "Channels"), std::nullopt);
    EXPECT_EQ(store.ReadInteger("DecodeSettings\\x", "FadeoutLength"), std::nullopt);
    EXPECT_EQ(store.ReadString("Missing\\Key", "Plugins"), std::nullopt);
    // Reading never creates what it looks for.
    EXPECT_FALSE(store.KeyExists("Missing"));
}

TEST_F(RegistryStoreTest, SubKeysComeInTheRegistrysOrderAndDeletingTakesTheWholeTree)
{
    TRegistrySettingsStore store(ProgramKey(), HostPlayerKey());
    for (const char* name : {"b", "C", "a", "プラグインのデフォルト", "Ab"})
        store.WriteInteger(std::string("DecodeSettings\\") + name, "Channels", 2);
    store.WriteInteger("DecodeSettings\\a\\deeper", "Channels", 2);
    // Sorted by name with letter case ignored, whatever the order of creation.
    EXPECT_EQ(store.SubKeys("DecodeSettings"),
              (std::vector<std::string>{"a", "Ab", "b", "C", "プラグインのデフォルト"}));

    store.DeleteKey("DecodeSettings");
    EXPECT_FALSE(KeyPresent(ProgramKey() + "\\DecodeSettings"));
    EXPECT_TRUE(KeyPresent(ProgramKey()));
    store.DeleteKey("DecodeSettings"); // gone already: no error
    EXPECT_TRUE(store.SubKeys("DecodeSettings").empty());
}

TEST_F(RegistryStoreTest, DecodeSettingsSavedAndLoadedThroughTheRegistry)
{
    TRegistrySettingsStore store(ProgramKey(), HostPlayerKey());
    std::vector<DecodeSettingRow> rows = BuiltInDecodeSettings();
    rows.push_back({"ゲーム", {"22050", "8", "1", "60", "2500"}});
    SaveDecodeSettingRows(store, rows);
    for (const char* value : settings::kDecodeSettingValueNames)
        EXPECT_EQ(RawValue(ProgramKey() + "\\DecodeSettings\\ゲーム", value).first,
                  DWORD(REG_DWORD))
            << value;

    TRegistrySettingsStore again(ProgramKey(), HostPlayerKey());
    const auto loaded = LoadDecodeSettingRows(again);
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->size(), 3u);
    // The registry's order: "CD", then the Japanese names by their UTF-16 code units.
    EXPECT_EQ((*loaded)[0].Name, "CD");
    EXPECT_EQ((*loaded)[1].Name, "ゲーム");
    EXPECT_EQ((*loaded)[1].Values, rows[2].Values);
    EXPECT_EQ((*loaded)[2].Name, "プラグインのデフォルト");
    EXPECT_EQ((*loaded)[2].Values[kBits], "default");

    SaveDecodeSettingRows(again, {});
    EXPECT_FALSE(KeyPresent(ProgramKey() + "\\DecodeSettings"));
}

TEST_F(RegistryStoreTest, ReadsSettingsThatAnotherProgramWrote)
{
    const std::wstring key = WideKey(ProgramKey() + "\\DecodeSettings\\携帯用");
    const wchar_t* names[5] = {L"SamplingFrequency", L"BitsPerSample", L"Channels",
                               L"DefaultLength", L"FadeoutLength"};
    const wchar_t* values[5] = {L"32000", L"24", L"1", L"90", L"3000"};
    for (int i = 0; i < 5; ++i)
        RegAdd(key + L" /v " + names[i] + L" /t REG_DWORD /d " + values[i]);
    RegAdd(WideKey(ProgramKey() + "\\SearchPath") +
           L" /v Plugins /t REG_SZ /d \"D:\\音楽\\Plugins\"");

    TRegistrySettingsStore store(ProgramKey(), HostPlayerKey());
    const auto loaded = LoadDecodeSettingRows(store);
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->size(), 1u);
    EXPECT_EQ((*loaded)[0].Name, "携帯用");
    EXPECT_EQ((*loaded)[0].Values, (std::array<std::string, 5>{"32000", "24", "1", "90", "3000"}));
    EXPECT_EQ(store.ReadString("SearchPath", "Plugins"), "D:\\音楽\\Plugins");
}

TEST_F(RegistryStoreTest, TheHostPlayersKeyIsReadAndNeverCreated)
{
    TRegistrySettingsStore store(ProgramKey(), HostPlayerKey());
    EXPECT_EQ(store.HostPlayerExecutable(), std::nullopt);
    EXPECT_FALSE(KeyPresent(HostPlayerKey()));

    RegAdd(WideKey(HostPlayerKey() + "\\SearchPath") +
           L" /v Kbmplay /t REG_SZ /d \"C:\\KbMedia Player\\KbMPlay.exe\"");
    EXPECT_EQ(store.HostPlayerExecutable(), "C:\\KbMedia Player\\KbMPlay.exe");
}

// The Windows branches of the platform layer and of the plug-in module, under Wine: names in
// any script reach files through the wide functions, plug-ins get names in the ANSI code page
// (or short names), a plug-in's own folder is searched for the DLLs it needs, the run log is in
// code page 932, the plug-in cache carries the DOS times of the real files, and the version
// text comes from the program's version resource.
#include "app/KbMD_Common.h"
#include "app/Version.h"
#include "kpi/KPI.h"
#include "kpi/kpiDriver.h"
#include "platform/CodePages.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/WindowsText.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

namespace fs = std::filesystem;

namespace {

// A fresh folder under the user's temporary folder, removed with everything in it.
class WideTempFolder {
public:
    WideTempFolder()
    {
        wchar_t base[MAX_PATH + 1];
        GetTempPathW(MAX_PATH + 1, base);
        static int counter = 0;
        FPath = fs::path(base) / (L"pellan-win-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++counter));
        fs::create_directories(FPath);
    }
    ~WideTempFolder()
    {
        std::error_code ignored;
        fs::current_path(fs::temp_directory_path(), ignored);
        fs::remove_all(FPath, ignored);
    }
    // UTF-8, as the program holds paths.
    std::string operator/(const std::string& name) const
    {
        return platform::PathText(FPath / platform::FileSystemPath(name));
    }
    std::string Path() const { return platform::PathText(FPath); }

private:
    fs::path FPath;
};

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(platform::FileSystemPath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    fs::create_directories(platform::FileSystemPath(path).parent_path());
    std::ofstream out(platform::FileSystemPath(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The folder of the test plug-ins that this build made, found from this program's own place.
std::string BuiltPlugins()
{
    return platform::PathText(
        (platform::FileSystemPath(platform::ExecutableFolder()) / ".." / "tests" / "plugins")
            .lexically_normal());
}

void CopyInto(const std::string& from, const std::string& to)
{
    fs::create_directories(platform::FileSystemPath(to).parent_path());
    fs::copy_file(platform::FileSystemPath(from), platform::FileSystemPath(to),
                  fs::copy_options::overwrite_existing);
}

// Sets a file's last-write time to a local time.
void SetLocalWriteTime(const std::string& path, WORD year, WORD month, WORD day, WORD hour,
                       WORD minute, WORD second)
{
    SYSTEMTIME local{year, month, 0, day, hour, minute, second, 0};
    FILETIME localTime, utc;
    ASSERT_TRUE(SystemTimeToFileTime(&local, &localTime));
    ASSERT_TRUE(LocalFileTimeToFileTime(&localTime, &utc));
    HANDLE file =
        CreateFileW(platform::Utf8ToWide(path).c_str(), FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &utc));
    CloseHandle(file);
}

uint32_t Get32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

std::map<std::string, std::string> ReadKeyValues(const std::string& path)
{
    std::map<std::string, std::string> values;
    std::ifstream in(platform::FileSystemPath(path));
    for (std::string line; std::getline(in, line);)
        if (const size_t eq = line.find('='); eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    return values;
}

} // namespace

TEST(WindowsFiles, NamesInAnyScriptReachTheirFiles)
{
    WideTempFolder dir;
    const std::string folder = dir / "曲 フォルダ";
    const std::string file = folder + "\\ゲーム音楽 ①.tst";
    WriteBytes(file, "rate=8000\n");
    EXPECT_TRUE(platform::FolderExists(folder));
    EXPECT_TRUE(platform::FileExists(file));
    EXPECT_TRUE(platform::IsRegularFile(file));
    EXPECT_FALSE(platform::FileExists(folder));

    const auto entries = platform::ListFolder(folder, "*.*", platform::kAttrDirectory);
    ASSERT_EQ(entries.size(), 1u); // no "." or ".."
    EXPECT_EQ(entries[0].Name, "ゲーム音楽 ①.tst");

    std::FILE* opened = platform::OpenFile(file, "rb");
    ASSERT_NE(opened, nullptr);
    std::fclose(opened);

    ASSERT_TRUE(platform::ReplaceFileWith(file, "replaced"));
    EXPECT_EQ(ReadBytes(file), "replaced");

    ASSERT_TRUE(platform::SetCurrentFolder(folder));
    EXPECT_EQ(platform::CurrentFolder(), folder);
    EXPECT_EQ(platform::AbsolutePath("ゲーム音楽 ①.tst"), file);
    EXPECT_EQ(platform::ResolvedPath(file), file);

    EXPECT_TRUE(platform::RemoveFile(file));
    EXPECT_FALSE(platform::FileExists(file));
}

TEST(WindowsFiles, TheDosTimeIsTheLocalLastWriteTime)
{
    WideTempFolder dir;
    const std::string file = dir / "時刻.kpi";
    WriteBytes(file, "x");
    SetLocalWriteTime(file, 2021, 3, 4, 5, 6, 8);
    // 2021-03-04 05:06:08, packed: year - 1980 in bits 25-31, then month, day, hour, minute,
    // seconds / 2.
    const uint32_t expected = (41u << 25) | (3u << 21) | (4u << 16) | (5u << 11) | (6u << 5) | 4u;
    EXPECT_EQ(static_cast<uint32_t>(platform::FileDosDateTime(file)), expected);
    EXPECT_EQ(platform::FileDosDateTime(dir.Path()), -1); // a folder has none
    EXPECT_EQ(platform::FileDosDateTime(dir / "missing"), -1);
}

TEST(WindowsFiles, PluginsGetAnsiNamesOrShortNamesThatOpenTheSameFile)
{
    WideTempFolder dir;
    const std::string plain = dir / "plain.tst";
    WriteBytes(plain, "same");
    EXPECT_EQ(platform::AnsiFileName(platform::Utf8ToWide(plain)),
              *platform::WideToAnsi(platform::Utf8ToWide(plain)));

    // A name that the ANSI code page cannot hold, whichever it is: Japanese and Cyrillic
    // together fit no single ANSI code page.
    const std::string foreign = dir / "ゲームЖ.tst";
    WriteBytes(foreign, "foreign");
    ASSERT_FALSE(platform::WideToAnsi(platform::Utf8ToWide(foreign)));
    const std::string passed = platform::AnsiFileName(platform::Utf8ToWide(foreign));
    EXPECT_EQ(passed.find('?'), std::string::npos) << passed;
    // What a plug-in does with it: the narrow C library, in the ANSI code page.
    std::FILE* file = std::fopen(passed.c_str(), "rb");
    ASSERT_NE(file, nullptr) << passed;
    char bytes[16] = {};
    const size_t n = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);
    EXPECT_EQ(std::string(bytes, n), "foreign");
}

TEST(WindowsPlugins, AnInProcessPluginOpensASongWhoseNameTheCodePageCannotHold)
{
    WideTempFolder dir;
    const std::string pluginPath = dir / "plugins\\testplugin.kpi";
    CopyInto(BuiltPlugins() + "\\testplugin.kpi", pluginPath);
    WriteBytes(pluginPath + ".conf", "publish=1\n");
    const std::string song = dir / "曲\\ゲームЖ.tst";
    WriteBytes(song, "rate=8000\nchannels=1\nbits=16\nframes=800\n");

    TZoKpi plugin(pluginPath);
    EXPECT_EQ(plugin.Hosted(), nullptr); // this build's own bitness: in the process
    SoundFormat format{};
    const KPI_HANDLE handle = plugin.OpenSong(song, &format);
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(format.SampleRate, 8000u);
    plugin.CloseSong(handle);

    // The plug-in was given the short name, which names the song in any code page.
    const auto counts =
        ReadKeyValues(pluginPath + ".counts." + std::to_string(GetCurrentProcessId()));
    ASSERT_TRUE(counts.count("LastOpenName"));
    const std::string given = counts.at("LastOpenName");
    EXPECT_EQ(given, platform::AnsiFileName(platform::Utf8ToWide(song)));
    EXPECT_EQ(given.find('?'), std::string::npos) << given;
    EXPECT_NE(given.find('~'), std::string::npos) << given;
}

TEST(WindowsPlugins, TheDllsAPluginNeedsAreFoundInItsOwnFolder)
{
    WideTempFolder dir;
    // A folder named in another script, too: the plug-in is loaded through the wide call.
    const std::string folder = dir / "プラグイン";
    CopyInto(BuiltPlugins() + "\\helper\\helperuser.kpi", folder + "\\helperuser.kpi");
    CopyInto(BuiltPlugins() + "\\helper\\kpihelper.dll", folder + "\\kpihelper.dll");
    ASSERT_TRUE(platform::SetCurrentFolder(dir.Path()));

    // Without the plug-in's folder in the search the helper is not found: the case is real.
    HMODULE plain = LoadLibraryW(platform::Utf8ToWide(folder + "\\helperuser.kpi").c_str());
    EXPECT_EQ(plain, nullptr);
    if (plain != nullptr)
        FreeLibrary(plain);

    TZoKpi plugin(folder + "\\helperuser.kpi");
    EXPECT_EQ(plugin.PluginVersion(), 77u); // the helper's answer
}

TEST(WindowsPlugins, ALoadFailureCarriesTheSystemsReasonInUtf8)
{
    WideTempFolder dir;
    const std::string notADll = dir / "壊れた.kpi";
    WriteBytes(notADll, "not a library");
    try {
        TZoKpi plugin(notADll);
        ADD_FAILURE() << "a file that is no DLL loaded";
    } catch (const EKpiLoadFailed& e) {
        EXPECT_EQ(e.Code, EKpiLoadFailed::kCannotLoad);
        // The system's text and its code (ERROR_BAD_EXE_FORMAT), readable in the UTF-8 log.
        EXPECT_NE(e.Reason.find("(error 193)"), std::string::npos) << e.Reason;
        EXPECT_GT(e.Reason.size(), std::string(" (error 193)").size()) << e.Reason;
        EXPECT_TRUE(platform::IsValidUtf8(e.Reason)) << e.Reason;
    }
}

TEST(WindowsPlugins, TheCacheHoldsTheDosTimesOfThePluginFiles)
{
    WideTempFolder dir;
    const std::string folder = dir / "plugins";
    CopyInto(BuiltPlugins() + "\\testplugin.kpi", folder + "\\a.kpi");
    SetLocalWriteTime(folder + "\\a.kpi", 2019, 12, 31, 23, 59, 58);
    const std::string cacheFolder = dir / "cache";
    fs::create_directories(platform::FileSystemPath(cacheFolder));
    {
        TZoKpiDriver driver;
        driver.CacheFolder = cacheFolder;
        driver.LoadFolder(folder);
        ASSERT_EQ(driver.Plugins().size(), 1u);
    }
    const std::string cache = ReadBytes(cacheFolder + "\\plugin.cache");
    ASSERT_GE(cache.size(), 16u);
    // Version, count, then the record: its file time first.
    EXPECT_EQ(Get32(cache, 4), 1u);
    const uint32_t expected =
        (39u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
    EXPECT_EQ(Get32(cache, 8), expected);
}

TEST(WindowsRunLog, IsWrittenInCodePage932WithCrLf)
{
    WideTempFolder dir;
    TRunLog log;
    log.Add("エラー: 曲");
    log.Add("ok");
    const std::string path = dir / "ログ\\PellanDecode.log";
    fs::create_directories(platform::FileSystemPath(path).parent_path());
    log.SaveToFile(path);
    EXPECT_EQ(ReadBytes(path), "\x83\x47\x83\x89\x81\x5B: \x8B\xC8\r\nok\r\n");
}

TEST(WindowsVersion, TheVersionTextComesFromTheVersionResource)
{
    EXPECT_EQ(FileVersionText(), PELLAN_EXPECTED_VERSION);
}

TEST(WindowsPathTexts, SlashesSeparateFoldersAsBackslashesDo)
{
    // Windows opens "out/song.wav" in the folder out; the names made from it agree.
    EXPECT_EQ(platform::ExtractFileName("C:\\music/out/song.wav"), "song.wav");
    EXPECT_EQ(platform::ExtractFilePath("C:\\music/out/song.wav"), "C:\\music/out/");
    EXPECT_EQ(platform::ChangeFileExt("C:\\v1.2/song", ".wav"), "C:\\v1.2/song.wav");
    EXPECT_EQ(platform::ExtractFileName("C:song.mid"), "song.mid");
    EXPECT_EQ(platform::IncludeTrailingDelimiter("C:/music/"), "C:/music/");
    EXPECT_EQ(platform::IncludeTrailingDelimiter("C:"), "C:\\");
    EXPECT_EQ(platform::ExcludeTrailingDelimiter("C:\\music/"), "C:\\music");
}

TEST(WindowsFiles, PathsPastMaxPathAreReachedAndNamesCompareAsWindowsComparesThem)
{
    WideTempFolder dir;
    const std::string longName(120, 'x');
    const std::string deep = dir / (longName + "\\" + longName + "\\" + longName);
    const std::string file = deep + "\\song.tst";
    ASSERT_GT(file.size(), 300u);
    ASSERT_TRUE(platform::CreateFolders(deep));
    std::FILE* written = platform::OpenFile(file, "wb");
    ASSERT_NE(written, nullptr);
    std::fclose(written);
    EXPECT_EQ(platform::CheckInputFile(file).Kind, platform::FileKind::Regular);
    const auto entries = platform::ListFolder(deep, "*", platform::kSubFolderMask);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Name, "song.tst");
    EXPECT_TRUE(platform::GetFileIdentity(file).has_value());
    // A plug-in's ANSI file functions get a name within MAX_PATH that opens the file.
    const std::string ansi = platform::AnsiFileName(platform::Utf8ToWide(file));
    EXPECT_LT(ansi.size(), size_t(MAX_PATH));
    std::FILE* viaAnsi = std::fopen(ansi.c_str(), "rb");
    EXPECT_NE(viaAnsi, nullptr) << ansi;
    if (viaAnsi != nullptr)
        std::fclose(viaAnsi);

    // Letter case aside, whether the folders exist yet or not; a missing folder right below a
    // drive's root is not taken for that drive's current folder.
    EXPECT_EQ(platform::ComparablePath(deep + "\\NEW\\Song.wav"),
              platform::ComparablePath(dir / (longName + "\\" + longName + "\\" + longName +
                                              "\\new\\..\\new\\sONG.wav")));
    const std::string root = dir.Path().substr(0, 3); // "C:\"
    EXPECT_EQ(platform::ComparablePath(root + "pellan-no-such-folder\\a.wav"),
              platform::ComparablePath(root) + "PELLAN-NO-SUCH-FOLDER\\A.WAV");
    EXPECT_EQ(platform::CheckInputFile(deep + "\\gone.tst").Kind, platform::FileKind::Missing);
}

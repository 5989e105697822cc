// The per-song start and the single-file job, as both programs use them: formats that cannot be
// timed are refused, outputs never replace the playlist being read, and a stop that races the
// song's end never claims a deletion that did not happen.
#include "app/SongDecoding.h"
#include "app/DecodeSettings.h"
#include "app/PlaylistDecoding.h"
#include "kpi/kpiDriver.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>

namespace fs = std::filesystem;
using testkpi::TestSong;

namespace {

struct FlowFixture : ::testing::Test {
    testsupport::TempFolder dir;
    testkpi::TestPlugin plugin{dir / "test.kpi", {{"extensions", ".tst,.nsf"}}};
    TZoKpiDriver driver;
    std::vector<std::string> log;

    FlowFixture()
    {
        driver.CacheFolder = dir.Path();
        driver.OnPluginLoaded = [](TZoKpi&) { return true; };
        driver.LoadFolder(dir.Path());
    }
    SongDecodeRequest Request(const std::string& source, const std::string& output)
    {
        SongDecodeRequest request;
        request.Source = source;
        request.Output = output;
        const DecodeSettingRow row = BuiltInDecodeSettings()[0];
        request.Setting = ReadDecodeSetting(row);
        request.Requested = ReadRequestedFormat(row);
        return request;
    }
    // The message a start fails with ("" when it starts); the song is released either way.
    std::string StartFailure(const SongDecodeRequest& request)
    {
        try {
            PrepareSongDecode(driver, request,
                              [&](const std::string& line) { log.push_back(line); });
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }
};

} // namespace

TEST_F(FlowFixture, FormatsWhoseBytesPerSecondComeOutAsZeroAreRefused)
{
    const auto failure = [&](uint32_t rate, uint32_t bits, uint32_t channels) {
        TestSong song;
        song.Rate = rate;
        song.Bits = bits;
        song.Channels = channels;
        song.WriteTo(dir / "s.tst");
        return StartFailure(Request(dir / "s.tst", dir / "s.wav"));
    };
    for (uint32_t bits = 1; bits < 8; ++bits)
        EXPECT_EQ(failure(44100, bits, 2), "エラー: PCM パラメータが異常です") << bits;
    // 17 bits take two bytes: 2 x 2^31 x 1 overflows to 0, while 2^31 x 17 x 1 does not.
    EXPECT_EQ(failure(0x80000000u, 17, 1), "エラー: PCM パラメータが異常です");
    EXPECT_EQ(failure(44100, 8, 1), "");
    EXPECT_FALSE(fs::exists(dir / "s.wav") && fs::file_size(dir / "s.wav") > 46);
    EXPECT_EQ(plugin.Counts().Open, plugin.Counts().Close);
}

TEST_F(FlowFixture, AStopThatRacesTheEndNeverClaimsADeletionThatDidNotHappen)
{
    std::mt19937 random(11);
    TestSong song;
    song.Frames = "200";
    song.WriteTo(dir / "short.tst");
    const std::string output = dir / "short.wav";
    int took = 0, late = 0;
    // The pause before the stop follows the outcomes, so that both keep happening.
    double scale = 100; // microseconds
    for (int round = 0; round < 300; ++round) {
        log.clear();
        TSingleDecodeJob::Hooks hooks;
        hooks.Log = [&](const std::string& line) { log.push_back(line); };
        TSingleDecodeJob job(std::move(hooks));
        ASSERT_TRUE(job.Start(driver, Request(dir / "short.tst", output)));
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::microseconds(static_cast<int64_t>(
                               std::uniform_real_distribution<>(0, 2 * scale)(random)));
        while (std::chrono::steady_clock::now() < until) {
        }
        const bool stopped = job.Stop();
        job.StopAndWait();
        const bool deletionLogged =
            std::find(log.begin(), log.end(), "  警告: ファイルは削除されました") != log.end();
        EXPECT_EQ(deletionLogged, stopped);
        EXPECT_EQ(fs::exists(output), !stopped) << "round " << round;
        EXPECT_EQ(job.Succeeded(), !stopped);
        ++(stopped ? took : late);
        scale *= stopped ? 1.1 : 0.9;
    }
    EXPECT_GT(took, 0);
    EXPECT_GT(late, 0);
}

TEST_F(FlowFixture, APlaylistIsNeverReplacedByItsOwnEntrysOutput)
{
    TestSong song;
    song.Frames = "100";
    song.WriteTo(dir / "pl.nsf");
    const std::string text = "KbMIDI Player Play List\r\n0=" + dir / "pl.nsf" + "\r\n";
    testsupport::WriteFileBytes(dir / "pl.wav", text);

    TPlainMainThreadLoop loop;
    TPlaylistDecodeJob::Hooks hooks;
    hooks.Log = [&](const std::string& line) { log.push_back(line); };
    TPlaylistDecodeJob job(loop, std::move(hooks));
    const DecodeSettingRow row = BuiltInDecodeSettings()[0];
    job.Run(driver, dir / "pl.wav", ReadDecodeSetting(row), ReadRequestedFormat(row));

    EXPECT_EQ(testsupport::ReadFileBytes(dir / "pl.wav"), text);
    EXPECT_TRUE(job.Failed());
    ASSERT_GE(log.size(), 3u);
    // As an output that is its own source is refused: the message, the failure, the batch's end.
    EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
              (std::vector<std::string>{
                  "エラー: 出力先 " + dir / "pl.wav" + " はプレイリストファイルと同じです",
                  "警告: デコードは失敗しました", "一括デコードが完了しました。"}));
}

TEST_F(FlowFixture, NamesTypedMeanTheFolderTheProgramStartedInWhereverAPluginMoves)
{
    // Names relative to the folder the tests started in; the plug-in moves the current folder
    // elsewhere in every Open.
    const std::string local = "pellan-relative-" + std::to_string(std::random_device()());
    const std::string base = platform::IncludeTrailingDelimiter(platform::LaunchFolder()) + local;
    TestSong song;
    song.Extra = "chdir=" + dir.Path() + "\n";
    fs::create_directories(platform::FileSystemPath(base));
    song.WriteTo(base + "/a.tst");
    for (const char* output : {"/a.wav", "/b.wav"}) {
        PreparedSongDecode prepared = PrepareSongDecode(
            driver, Request(local + "/a.tst", local + output), [](const std::string&) {});
        prepared.Thread->Start();
        prepared.Thread->WaitFor();
        prepared.Thread.reset();
        EXPECT_GT(fs::file_size(platform::FileSystemPath(base + output)), 1000u);
    }
    fs::remove_all(platform::FileSystemPath(base));
}

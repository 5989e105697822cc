// The playlist job on the plain main-thread loop, as the command line runs it: no toolkit, the
// decoder threads' calls and a stop posted to the main thread all served by the loop.
#include "app/DecodeSettings.h"
#include "app/PlaylistDecoding.h"
#include "kpi/kpiDriver.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

TEST(PlaylistJobOnThePlainLoop, EntriesDecodeAndAPostedStopEndsTheBatch)
{
    testsupport::TempFolder dir;
    testkpi::TestPlugin plugin(dir / "test.kpi");
    TZoKpiDriver driver;
    driver.CacheFolder = dir.Path();
    driver.OnPluginLoaded = [](TZoKpi&) { return true; };
    driver.LoadFolder(dir.Path());

    testkpi::TestSong quick;
    quick.Length = "100";
    quick.Frames = "4410";
    quick.WriteTo(dir / "a.tst");
    testkpi::TestSong endless = quick;
    endless.Length = "none";
    endless.Frames = "inf";
    endless.DelayMs = 1;
    endless.WriteTo(dir / "b.tst");
    quick.WriteTo(dir / "c.tst");
    testsupport::WriteFileBytes(dir / "list.kbm", "KbMIDI Player Play List\r\n0=" + dir / "a.tst" +
                                                      "\r\n-\r\n0=" + dir / "b.tst" +
                                                      "\r\n-\r\n0=" + dir / "c.tst" + "\r\n");

    TPlainMainThreadLoop loop;
    std::vector<std::string> log;
    TPlaylistDecodeJob* job = nullptr;
    TPlaylistDecodeJob::Hooks hooks;
    hooks.Log = [&](const std::string& line) { log.push_back(line); };
    bool stopPosted = false;
    hooks.Progress = [&](uint32_t positionMs, uint32_t) {
        // Once the endless entry has played a while, a stop arrives as a console's would.
        if (positionMs > 2000 && !stopPosted) {
            stopPosted = true;
            platform::MainThreadQueue::Post([&] { job->Stop(); });
        }
    };
    TPlaylistDecodeJob batch(loop, std::move(hooks));
    job = &batch;
    const DecodeSettingRow row = BuiltInDecodeSettings()[0];
    batch.Run(driver, dir / "list.kbm", ReadDecodeSetting(row), ReadRequestedFormat(row));

    EXPECT_TRUE(batch.WasStopped());
    EXPECT_EQ(batch.Decoded(), 1);
    EXPECT_EQ(batch.Interrupted(), 1);
    EXPECT_EQ(batch.NotReached(), 1);
    EXPECT_EQ(batch.FailedEntries(), 0);
    EXPECT_TRUE(fs::exists(dir / "a.wav"));
    EXPECT_FALSE(fs::exists(dir / "b.wav"));
    EXPECT_FALSE(fs::exists(dir / "c.wav"));
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(log.end() - 4, log.end()),
              (std::vector<std::string>{
                  "デコードは完了しました", "  警告: デコードはユーザの指示により中止されました",
                  "  警告: ファイルは削除されました", "一括デコードが完了しました。"}));
    EXPECT_EQ(plugin.Counts().Open, plugin.Counts().Close);
}

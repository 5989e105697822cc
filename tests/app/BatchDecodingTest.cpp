// The batch job: many inputs, all or some songs, outputs that exist, failures in the middle,
// several jobs giving the same bytes as one, plug-ins that take one song at a time, and a stop.
#include "app/BatchDecoding.h"
#include "app/DecodeSettings.h"
#include "kpi/kpiDriver.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;
using testkpi::TestSong;

namespace {

struct BatchFixture : ::testing::Test {
    testsupport::TempFolder dir;
    std::unique_ptr<testkpi::TestPlugin> plugin;
    std::unique_ptr<TZoKpiDriver> driver;
    std::vector<std::string> log;
    TPlainMainThreadLoop loop;

    void Load(const std::map<std::string, std::string>& conf = {})
    {
        fs::create_directories(dir / "plugins");
        plugin = std::make_unique<testkpi::TestPlugin>(dir / "plugins/test.kpi", conf);
        driver = std::make_unique<TZoKpiDriver>();
        driver->CacheFolder = dir.Path();
        driver->OnPluginLoaded = [](TZoKpi&) { return true; };
        driver->LoadFolder(dir / "plugins");
    }
    // A song file in the input folder, and its input for the batch.
    BatchInput Input(const std::string& name, TestSong song = TestSong{},
                     SongSelection songs = SongSelection{})
    {
        if (song.Frames.empty())
            song.Frames = "8820";
        if (song.Length.empty() && song.Songs == 0)
            song.Length = "200";
        fs::create_directories(dir / "in");
        song.WriteTo(dir / ("in/" + name));
        BatchInput input;
        input.Source = dir / ("in/" + name);
        input.Output = dir / ("out/" + fs::path(name).replace_extension(".wav").string());
        input.Songs = songs;
        return input;
    }
    TBatchDecodeJob::Options Options(unsigned jobs)
    {
        TBatchDecodeJob::Options options;
        options.Jobs = jobs;
        const DecodeSettingRow row = BuiltInDecodeSettings()[0];
        options.Setting = ReadDecodeSetting(row);
        options.Setting.DefaultLength = 1; // multi-song files fade after a second
        options.Setting.FadeoutLength = 100;
        options.Requested = ReadRequestedFormat(row);
        return options;
    }
    BatchCounts Run(std::vector<BatchInput> inputs, const TBatchDecodeJob::Options& options)
    {
        fs::create_directories(dir / "out");
        TBatchDecodeJob::Hooks hooks;
        hooks.Log = [&](const std::string& line) { log.push_back(line); };
        TBatchDecodeJob job(loop, std::move(hooks));
        job.Run(*driver, std::move(inputs), options);
        return job.Counts();
    }
    std::map<std::string, std::string> Outputs()
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(dir / "out"))
            files[entry.path().filename().string()] =
                testsupport::ReadFileBytes(entry.path().string());
        return files;
    }
};

} // namespace

TEST_F(BatchFixture, AllSongsRangesAndSingleSongFilesGetTheirNames)
{
    Load();
    TestSong multi;
    multi.Songs = 4;
    const std::vector<BatchInput> inputs = {
        Input("game.tst", multi, {SongSelection::Kind::All}),
        Input("plain.tst", TestSong{}, {SongSelection::Kind::All}),
        Input("range.tst", multi, {SongSelection::Kind::Range, 2, 9}),
        Input("one.tst", multi, {SongSelection::Kind::Range, 3, 3}),
    };
    const BatchCounts counts = Run(inputs, Options(2));
    EXPECT_EQ(counts.Converted, 4 + 1 + 3 + 1);
    EXPECT_EQ(counts.Failed, 0);
    std::vector<std::string> names;
    for (const auto& [name, bytes] : Outputs())
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"game[1].wav", "game[2].wav", "game[3].wav",
                                               "game[4].wav", "one[3].wav", "plain.wav",
                                               "range[2].wav", "range[3].wav", "range[4].wav"}));
    // Each song is the song it is named after.
    EXPECT_NE(Outputs()["game[1].wav"], Outputs()["game[2].wav"]);
    EXPECT_EQ(Outputs()["game[3].wav"], Outputs()["one[3].wav"]);
    EXPECT_EQ(Outputs()["game[2].wav"], Outputs()["range[2].wav"]);
    EXPECT_EQ(plugin->Counts().OpenNow, 0);
}

TEST_F(BatchFixture, SeveralJobsWriteTheSameBytesAsOne)
{
    Load();
    TestSong multi;
    multi.Songs = 3;
    TestSong endless;
    endless.Length = "none";
    endless.Frames = "inf";
    std::vector<BatchInput> inputs;
    for (int i = 0; i < 6; ++i) {
        TestSong song;
        song.Value = i;
        song.Pattern = i % 2 ? "ramp" : "const";
        inputs.push_back(Input("s" + std::to_string(i) + ".tst", song));
    }
    inputs.push_back(Input("multi.tst", multi, {SongSelection::Kind::All}));
    inputs.push_back(Input("endless.tst", endless));

    Run(inputs, Options(1));
    const auto one = Outputs();
    fs::remove_all(dir / "out");
    Run(inputs, Options(4));
    EXPECT_EQ(Outputs(), one);
    EXPECT_EQ(one.size(), 6u + 3u + 1u);
    EXPECT_GT(plugin->Counts().MaxOpenNow, 1); // the jobs did run side by side
}

TEST_F(BatchFixture, APluginThatIsNotReentrantNeverHasTwoSongsOpen)
{
    Load({{"reentrant", "0"}});
    TestSong multi;
    multi.Songs = 3;
    std::vector<BatchInput> inputs = {Input("m.tst", multi, {SongSelection::Kind::All})};
    for (int i = 0; i < 5; ++i)
        inputs.push_back(Input("s" + std::to_string(i) + ".tst"));
    const BatchCounts counts = Run(inputs, Options(4));
    EXPECT_EQ(counts.Converted, 8);
    EXPECT_EQ(counts.Failed, 0);
    EXPECT_EQ(plugin->Counts().MaxOpenNow, 1);
}

TEST_F(BatchFixture, ExistingOutputsAreSkippedUnlessOverwriteAndAFailureDoesNotStopTheRest)
{
    Load();
    std::vector<BatchInput> inputs = {Input("a.tst"), Input("b.tst"), Input("c.tst")};
    // A file no plug-in claims, in the middle.
    BatchInput unknown = Input("d.tst");
    unknown.Source = dir / "in/d.xyz";
    inputs.insert(inputs.begin() + 1, unknown);
    fs::create_directories(dir / "out");
    testsupport::WriteFileBytes(dir / "out/b.wav", "mine");

    BatchCounts counts = Run(inputs, Options(2));
    EXPECT_EQ(counts.Converted, 2);
    EXPECT_EQ(counts.Skipped, 1);
    EXPECT_EQ(counts.Failed, 1);
    EXPECT_EQ(testsupport::ReadFileBytes(dir / "out/b.wav"), "mine");
    EXPECT_NE(
        std::find(log.begin(), log.end(),
                  "b.wav: 警告: 出力先 " + dir / "out/b.wav" + " は既にあります。スキップします。"),
        log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "d.wav: 警告: デコードは失敗しました"), log.end());

    TBatchDecodeJob::Options overwrite = Options(2);
    overwrite.Overwrite = true;
    counts = Run(inputs, overwrite);
    EXPECT_EQ(counts.Converted, 3);
    EXPECT_EQ(counts.Skipped, 0);
    EXPECT_NE(testsupport::ReadFileBytes(dir / "out/b.wav"), "mine");
}

TEST_F(BatchFixture, TwoThousandInputsNeverHaveMoreSongsOpenThanJobs)
{
    Load();
    TestSong tiny;
    tiny.Frames = "10";
    tiny.Length = "1";
    tiny.WriteTo(dir / "tiny.tst");
    std::vector<BatchInput> inputs;
    for (int i = 0; i < 2000; ++i) {
        BatchInput input;
        input.Source = dir / "tiny.tst";
        input.Output = dir / ("out/t" + std::to_string(i) + ".wav");
        inputs.push_back(input);
    }
    const BatchCounts counts = Run(inputs, Options(3));
    EXPECT_EQ(counts.Converted, 2000);
    EXPECT_LE(plugin->Counts().MaxOpenNow, 3);
}

TEST_F(BatchFixture, AStopDeletesTheSongsInProgressAndKeepsTheFinishedOnes)
{
    Load();
    TestSong endless;
    endless.Length = "none";
    endless.Frames = "inf";
    endless.DelayMs = 2;
    const std::vector<BatchInput> inputs = {Input("quick.tst"), Input("e1.tst", endless),
                                            Input("e2.tst", endless), Input("later.tst")};
    fs::create_directories(dir / "out");
    TBatchDecodeJob::Hooks hooks;
    hooks.Log = [&](const std::string& line) { log.push_back(line); };
    TBatchDecodeJob* job = nullptr;
    bool stopPosted = false;
    hooks.Status = [&](const BatchCounts& counts) {
        // Both endless songs running, the quick one done, one song waiting: a Ctrl+C arrives.
        if (!stopPosted && counts.Converted == 1 && counts.Running == 2) {
            stopPosted = true;
            platform::MainThreadQueue::Post([&] { job->Stop(); });
        }
    };
    TBatchDecodeJob batch(loop, std::move(hooks));
    job = &batch;
    // Two jobs: the quick song and e1 first, then e2 in the quick one's place; later waits.
    TBatchDecodeJob::Options options = Options(2);
    options.Setting.DefaultLength = 3600; // the endless songs outlast the test
    batch.Run(*driver, inputs, options);
    EXPECT_TRUE(batch.WasStopped());
    EXPECT_EQ(Outputs().size(), 1u);
    EXPECT_TRUE(fs::exists(dir / "out/quick.wav"));
    EXPECT_EQ(std::count(log.begin(), log.end(), "e1.wav:   警告: ファイルは削除されました"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "e2.wav:   警告: ファイルは削除されました"), 1);
    EXPECT_EQ(plugin->Counts().OpenNow, 0);
    // For the summary: two songs stopped halfway, one never started, of four.
    EXPECT_EQ(batch.Counts().Interrupted, 2);
    EXPECT_EQ(batch.Counts().NotReached, 1);
    EXPECT_EQ(batch.Counts().Total, 4);
}

TEST(BatchEstimate, TheTimeLeftFollowsTheSongTimeRenderedPerSecond)
{
    BatchCounts counts;
    counts.Total = 10;
    counts.Running = 1;
    EXPECT_FALSE(EstimateSecondsLeft(counts, 5.0)); // no song has converted yet
    // Two 30-second songs converted and 10 s of a 40-second one rendered, in 14 s: 5 s of song
    // per second. Left: 30 s of the running song and 7 songs of 30 s, 240 s of song.
    counts.Converted = 2;
    counts.ConvertedMs = 60000;
    counts.RunningMs = 10000;
    counts.RunningLeftMs = 30000;
    EXPECT_EQ(EstimateSecondsLeft(counts, 14.0), 48.0);
    // Failed and skipped songs are done: nothing is expected of them.
    counts.Failed = 3;
    counts.Skipped = 4;
    EXPECT_EQ(EstimateSecondsLeft(counts, 14.0), 6.0);
}

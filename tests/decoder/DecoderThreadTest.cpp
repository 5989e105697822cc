// The decoder thread and the WAV file it writes: the bytes of each layout, the progress
// cadence, stops, failures, and the file as an independent reader sees it.
#include "decoder/kpiEffectorPlugin.h"
#include "decoder/kpiFileDecoderThread.h"
#include "kpi/KPI.h"
#include "kpi/KpiSong.h"
#include "platform/LittleEndian.h"
#include "platform/MainThreadQueue.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WavReader.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <thread>

using testkpi::TestPlugin;
using testkpi::TestSong;
using testsupport::ReadFileBytes;

namespace {

struct DecoderFixture : ::testing::Test {
    testsupport::TempFolder dir;
    TestPlugin plugin{dir / "a.kpi"};
    TZoKpi kpi{plugin.Path()};

    std::unique_ptr<TZoSong> Song(const TestSong& description, const std::string& name = "s.tst")
    {
        description.WriteTo(dir / name);
        auto song = std::make_unique<TZoSong>(dir / name, kpi);
        EXPECT_NE(song->Handle, 0u);
        return song;
    }
    // Runs a thread to its end the way a stop-and-wait caller does.
    static void Run(TZoKpiFileDecoderThread& thread)
    {
        thread.Start();
        thread.WaitFor();
    }
};

// The 46 header bytes of a finished file.
std::string Header(uint32_t riffSize, uint16_t channels, uint32_t rate, uint32_t avg,
                   uint16_t align, uint16_t bits, uint32_t dataSize)
{
    std::string h = "RIFF";
    le::Append32(h, riffSize);
    h += "WAVEfmt ";
    le::Append32(h, 18);
    le::Append16(h, 1);
    le::Append16(h, channels);
    le::Append32(h, rate);
    le::Append32(h, avg);
    le::Append16(h, align);
    le::Append16(h, bits);
    le::Append16(h, 0);
    h += "data";
    le::Append32(h, dataSize);
    return h;
}

std::string Pcm(const TestSong& song, uint64_t bytes, uint32_t songNumber = 0)
{
    const auto v = testkpi::ExpectedPcm(song, songNumber, 0, bytes);
    return std::string(v.begin(), v.end());
}

// Byte strings compared without printing megabytes of them.
#define EXPECT_SAME_BYTES(actual, expected) EXPECT_TRUE(SameBytes(actual, expected))

bool SameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected)
        return true;
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at])
        ++at;
    std::cerr << "bytes differ at offset " << at << " (sizes " << actual.size() << " and "
              << expected.size() << ")\n";
    return false;
}

// The file as libsndfile reads it holds exactly the PCM of the data chunk.
void ExpectReadBack(const std::string& path, const std::string& pcm, int rate, int channels,
                    int bits)
{
    const auto wav = testsupport::ReadWavWithSndfile(path);
    ASSERT_TRUE(wav.Ok) << wav.Error;
    EXPECT_EQ(wav.Rate, rate);
    EXPECT_EQ(wav.Channels, channels);
    EXPECT_EQ(wav.Bits, bits);
    EXPECT_EQ(wav.Samples, testsupport::SamplesFromPcm(pcm, bits));
}

} // namespace

TEST_F(DecoderFixture, SixteenBitStereoWithoutTagsIsExactlyHeaderAndPcm)
{
    TestSong d;
    d.Frames = "3000"; // 12000 bytes: one 8192-byte block and a short one
    {
        TZoKpiFileDecoderThread thread(Song(d), dir / "out.wav");
        Run(thread);
        EXPECT_FALSE(thread.Aborted());
        EXPECT_EQ(thread.FatalMessage(), "");
    }
    const std::string file = ReadFileBytes(dir / "out.wav");
    const std::string pcm = Pcm(d, 12000);
    EXPECT_SAME_BYTES(file, Header(38 + 12000, 2, 44100, 176400, 4, 16, 12000) + pcm);
    EXPECT_EQ(plugin.Counts().Render, 2);
    EXPECT_EQ(plugin.Counts().Close, 1); // the song went with the thread
    ExpectReadBack(dir / "out.wav", pcm, 44100, 2, 16);
}

TEST_F(DecoderFixture, TagsGoIntoAListInfoChunkWithPadBytes)
{
    TestSong d;
    d.Frames = "10";
    struct Case {
        std::string title, artist, list;
    };
    const std::vector<Case> cases = {
        {"abc", "Singer",
         std::string("LIST\x1e\0\0\0INFOINAM\x03\0\0\0abc\0IART\x06\0\0\0Singer", 38)},
        {"", "Singer", std::string("LIST\x12\0\0\0INFOIART\x06\0\0\0Singer", 26)},
        {"Title", "", std::string("LIST\x12\0\0\0INFOINAM\x05\0\0\0Title\0", 26)},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title + "/" + c.artist);
        {
            TZoKpiFileDecoderThread thread(Song(d), dir / "tag.wav");
            thread.TagInfo.Title = c.title;
            thread.TagInfo.Artist = c.artist;
            Run(thread);
        }
        const std::string file = ReadFileBytes(dir / "tag.wav");
        const std::string pcm = Pcm(d, 40);
        EXPECT_SAME_BYTES(file, Header(static_cast<uint32_t>(38 + 40 + c.list.size()), 2, 44100,
                                       176400, 4, 16, 40) +
                                    pcm + c.list);
        const auto wav = testsupport::ReadWavWithSndfile(dir / "tag.wav");
        ASSERT_TRUE(wav.Ok);
        EXPECT_EQ(wav.Title, c.title);
        EXPECT_EQ(wav.Artist, c.artist);
    }
}

TEST_F(DecoderFixture, OddDataSizeGetsAPadByteThatTheRiffSizeCounts)
{
    TestSong d;
    d.Rate = 8000;
    d.Bits = 8;
    d.Channels = 1;
    d.Frames = "1001";
    {
        TZoKpiFileDecoderThread thread(Song(d), dir / "odd.wav");
        thread.TagInfo.Title = "x";
        Run(thread);
    }
    const std::string pcm = Pcm(d, 1001);
    const std::string list("LIST\x0e\0\0\0INFOINAM\x01\0\0\0x\0", 22);
    EXPECT_SAME_BYTES(ReadFileBytes(dir / "odd.wav"),
                      Header(38 + 1001 + 1 + 22, 1, 8000, 8000, 1, 8, 1001) + pcm + '\0' + list);
    ExpectReadBack(dir / "odd.wav", pcm, 8000, 1, 8);
}

TEST_F(DecoderFixture, OtherDepthsKeepTheEighteenByteFormatWithTruncatedByteCounts)
{
    struct Case {
        uint32_t bits, channels, align;
    };
    for (const Case c : {Case{24, 2, 6}, Case{32, 2, 8}, Case{12, 2, 2}, Case{24, 1, 3}}) {
        SCOPED_TRACE(c.bits);
        TestSong d;
        d.Rate = 22050;
        d.Bits = c.bits;
        d.Channels = c.channels;
        d.Frames = "5000"; // with 8192-byte blocks: frames split across blocks for 24 bits
        {
            TZoKpiFileDecoderThread thread(Song(d), dir / "d.wav");
            Run(thread);
        }
        const uint32_t size = 5000 * c.align;
        const std::string pcm = Pcm(d, size);
        const std::string file = ReadFileBytes(dir / "d.wav");
        EXPECT_SAME_BYTES(file, Header(38 + size + (size & 1), static_cast<uint16_t>(c.channels),
                                       22050, 22050 * c.align, static_cast<uint16_t>(c.align),
                                       static_cast<uint16_t>(c.bits), size) +
                                    pcm + std::string(size & 1, '\0'));
        if (c.bits % 8 == 0)
            ExpectReadBack(dir / "d.wav", pcm, 22050, static_cast<int>(c.channels),
                           static_cast<int>(c.bits));
    }
}

TEST_F(DecoderFixture, BlocksFollowTheUnitRenderSize)
{
    TestSong d;
    d.Unit = 1000;
    d.Frames = "1000"; // 4000 bytes: four full blocks, then an empty one ends the song
    {
        TZoKpiFileDecoderThread thread(Song(d), dir / "u.wav");
        Run(thread);
    }
    EXPECT_EQ(plugin.Counts().Render, 5);
    EXPECT_EQ(ReadFileBytes(dir / "u.wav").size(), 46u + 4000u);
}

TEST_F(DecoderFixture, ProgressComesOnlyAfterMoreThanASecondOfSongTime)
{
    // 1000 bytes per second: one byte is one millisecond.
    TestSong d;
    d.Rate = 1000;
    d.Bits = 8;
    d.Channels = 1;
    d.Frames = "3500";
    const auto reports = [&](uint32_t unit) {
        d.Unit = unit;
        std::vector<uint32_t> positions;
        TZoKpiFileDecoderThread thread(Song(d), dir / "p.wav");
        thread.OnProgress = [&](TZoSong& song) {
            EXPECT_TRUE(platform::MainThreadQueue::IsMainThread());
            positions.push_back(song.Position());
        };
        Run(thread);
        return positions;
    };
    // 1000 ms past the last report is not enough; the last entry is the final report.
    EXPECT_EQ(reports(1000), (std::vector<uint32_t>{2000, 3500, 3500}));
    EXPECT_EQ(reports(1001), (std::vector<uint32_t>{1001, 2002, 3003, 3500}));
}

TEST_F(DecoderFixture, StopCompletesThenDeletesTheFileAndStillEnds)
{
    TestSong d;
    d.Frames = "inf";
    d.DelayMs = 1;
    bool ended = false;
    int reports = 0;
    {
        TZoKpiFileDecoderThread thread(Song(d), dir / "stop.wav");
        thread.OnProgress = [&](TZoSong&) { ++reports; };
        thread.OnTerminate = [&] { ended = true; };
        thread.Start();
        while (plugin.Counts().Render < 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        thread.Terminate();
        thread.WaitFor();
        EXPECT_TRUE(thread.Aborted());
        EXPECT_TRUE(ended);
        EXPECT_GE(reports, 1); // the final report
        // Completed before deletion: the sizes are in place.
        const std::string file = ReadFileBytes(dir / "stop.wav");
        uint32_t dataSize = 0;
        std::memcpy(&dataSize, file.data() + 42, 4);
        EXPECT_EQ(dataSize, file.size() - 46);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "stop.wav"));
}

TEST_F(DecoderFixture, ThreadThatNeverRanKeepsTheProvisionalHeader)
{
    TestSong d;
    {
        TZoKpiFileDecoderThread never(Song(d), dir / "never.wav");
    }
    bool ended = false;
    {
        TZoKpiFileDecoderThread stopped(Song(d, "t.tst"), dir / "stopped.wav");
        stopped.OnTerminate = [&] { ended = true; };
        stopped.Terminate();
        Run(stopped);
        EXPECT_FALSE(stopped.Aborted());
    }
    EXPECT_TRUE(ended);
    const std::string provisional = Header(0, 2, 44100, 176400, 4, 16, 0);
    EXPECT_SAME_BYTES(ReadFileBytes(dir / "never.wav"), provisional);
    EXPECT_SAME_BYTES(ReadFileBytes(dir / "stopped.wav"), provisional);
    EXPECT_EQ(plugin.Counts().Render, 0);
    EXPECT_EQ(kpi.OpenCount(), 0);
}

TEST_F(DecoderFixture, BadStartReleasesTheSongAndLeavesNoFile)
{
    const std::string missing = dir / "no-such-folder/out.wav";
    try {
        TZoKpiFileDecoderThread thread(Song(TestSong{}), missing);
        FAIL();
    } catch (const EZoError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "エラー: Wav ファイル " + missing + " を作成できませんでした");
    }
    EXPECT_EQ(kpi.OpenCount(), 0);
    EXPECT_EQ(plugin.Counts().Close, 1);

    TestSong wide;
    wide.Channels = 70000;
    wide.Frames = "1";
    EXPECT_THROW(TZoKpiFileDecoderThread(Song(wide, "w.tst"), dir / "wide.wav"), EZoError);
    EXPECT_FALSE(std::filesystem::exists(dir / "wide.wav"));
    EXPECT_EQ(kpi.OpenCount(), 0);

    // A device that refuses every byte fails at once and is left in place.
    try {
        TZoKpiFileDecoderThread thread(Song(TestSong{}, "f.tst"), "/dev/full");
        FAIL();
    } catch (const EZoError& e) {
        EXPECT_EQ(std::string(e.what()), "エラー: Wav ファイル /dev/full を作成できませんでした");
    }
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
}

TEST_F(DecoderFixture, ErrorInTheRunKeepsTheBlocksBeforeItAndSkipsTheFinalReport)
{
    TestSong d;
    d.Rate = 1000;
    d.Bits = 8;
    d.Channels = 1;
    d.Unit = 500;
    d.Frames = "inf";
    std::string fatal;
    int reports = 0;
    {
        TZoKpiFileDecoderThread thread(Song(d), dir / "e.wav");
        thread.Effectors.push_back(std::make_unique<TZoKpiFader>(1500, 1000));
        thread.OnProgress = [&](TZoSong&) { ++reports; };
        thread.OnTerminate = [&] { fatal = thread.FatalMessage(); };
        Run(thread);
        EXPECT_FALSE(thread.Aborted());
    }
    EXPECT_EQ(fatal, "Unexpected sample bit-depth");
    EXPECT_EQ(reports, 0); // positions 500, 1000 report nothing; the final report is skipped
    const std::string pcm = Pcm(d, 1000);
    EXPECT_SAME_BYTES(ReadFileBytes(dir / "e.wav"),
                      Header(38 + 1000, 1, 1000, 1000, 1, 8, 1000) + pcm);
    ExpectReadBack(dir / "e.wav", pcm, 1000, 1, 8);
}

TEST_F(DecoderFixture, FadeEndsTheFileWhereTheGainReachesZero)
{
    TestSong d;
    d.Rate = 1000;
    d.Bits = 16;
    d.Channels = 1;
    d.Unit = 200; // 100 frames per block
    d.Frames = "inf";
    d.Pattern = "const";
    d.Value = 20000;
    {
        TZoKpiFileDecoderThread thread(Song(d), dir / "f.wav");
        thread.Effectors.push_back(std::make_unique<TZoKpiFader>(250, 150));
        Run(thread);
        EXPECT_EQ(thread.FatalMessage(), "");
    }
    // Blocks end at 100, 200, 300 ms: the fade starts with the third block's first frame and
    // lasts ceil(0xFFFFFFFF / (0xFFFFFFFF / 150)) frames.
    const std::string file = ReadFileBytes(dir / "f.wav");
    const uint32_t step = 0xFFFFFFFFu / 150;
    const uint32_t fadeFrames = static_cast<uint32_t>((0xFFFFFFFFull + step - 1) / step);
    ASSERT_EQ(file.size(), 46u + 2u * (200 + fadeFrames));
    std::string expected = Pcm(d, 400);
    uint32_t gain = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < fadeFrames; ++i) {
        const int16_t v = static_cast<int16_t>((int64_t(20000) * gain) >> 32);
        expected += static_cast<char>(v & 0xFF);
        expected += static_cast<char>((v >> 8) & 0xFF);
        gain = step > gain ? 0 : gain - step;
    }
    EXPECT_EQ(file.substr(46), expected);
    ExpectReadBack(dir / "f.wav", expected, 1000, 1, 16);
}

TEST_F(DecoderFixture, PluginClaimingMoreThanTheBlockIsHeldToTheBlock)
{
    TestSong d;
    d.Frames = "3000";
    d.OverRender = true;
    {
        TZoKpiFileDecoderThread thread(Song(d), dir / "o.wav");
        Run(thread);
    }
    EXPECT_SAME_BYTES(ReadFileBytes(dir / "o.wav").substr(46), Pcm(d, 12000));
}

TEST_F(DecoderFixture, FailedWriteEndsTheRunWithAnErrorAndAValidFile)
{
    TestSong d;
    d.Frames = "inf";
    std::string fatal;
    {
        TZoKpiFileDecoderThread thread(Song(d), dir / "full.wav");
        thread.OnTerminate = [&] { fatal = thread.FatalMessage(); };
        // Writes past 100000 bytes fail as on a full disk.
        struct rlimit old {};
        getrlimit(RLIMIT_FSIZE, &old);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = old;
        limit.rlim_cur = 100000;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        Run(thread);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(thread.Aborted());
    }
    EXPECT_EQ(fatal, "Wav ファイル " + (dir / "full.wav") + " に書き込めませんでした");
    const std::string file = ReadFileBytes(dir / "full.wav");
    uint32_t dataSize = 0, riffSize = 0;
    std::memcpy(&dataSize, file.data() + 42, 4);
    std::memcpy(&riffSize, file.data() + 4, 4);
    EXPECT_EQ(dataSize, file.size() - 46);
    EXPECT_EQ(riffSize, file.size() - 8);
    EXPECT_EQ(dataSize % 8192, 0u);
    ExpectReadBack(dir / "full.wav", Pcm(d, dataSize), 44100, 2, 16);
}

TEST_F(DecoderFixture, RunStopsBeforeTheFileOutgrowsWhatRiffCanDescribe)
{
    TestSong d;
    d.Frames = "inf";
    std::string fatal;
    {
        TZoKpiFileDecoderThread thread(Song(d), dir / "big.wav");
        thread.TagInfo.Artist = "abc";
        thread.FileSizeLimit = 46 + 5 * 8192 + 100;
        thread.OnTerminate = [&] { fatal = thread.FatalMessage(); };
        Run(thread);
    }
    EXPECT_NE(fatal.find("4 GiB"), std::string::npos);
    const std::string file = ReadFileBytes(dir / "big.wav");
    EXPECT_EQ(file.size(), 46u + 5 * 8192 + 24);
    const auto wav = testsupport::ReadWavWithSndfile(dir / "big.wav");
    ASSERT_TRUE(wav.Ok);
    EXPECT_EQ(wav.Frames, 5 * 8192 / 4);
    EXPECT_EQ(wav.Artist, "abc");
}

TEST_F(DecoderFixture, FadeEndsAtTheSameByteWhateverTheBlockSize)
{
    // A fade from the start of the song: with blocks of one frame or less the fader never
    // cuts a block short, and only the fade's end can end the run.
    const auto decode = [&](uint32_t unit) {
        TestSong d;
        d.Rate = 1000;
        d.Unit = unit;
        d.Length = "none";
        d.Frames = "inf";
        d.Pattern = "const";
        d.Value = 12345;
        const std::string name = "u" + std::to_string(unit) + ".wav";
        {
            TZoKpiFileDecoderThread thread(Song(d), dir / name);
            thread.Effectors.push_back(std::make_unique<TZoKpiFader>(0, 50));
            thread.FileSizeLimit = 1
                                   << 20; // a run that never ends fails instead of filling the disk
            Run(thread);
            EXPECT_EQ(thread.FatalMessage(), "") << "block of " << unit << " bytes";
        }
        return ReadFileBytes(dir / name);
    };
    const std::string large = decode(8192);
    // 50 ms at 1000 Hz: the gain falls by 0xFFFFFFFF / 50 per frame and reaches 0 in frame 51.
    ASSERT_EQ(large.size(), 46u + 51u * 4u);
    for (uint32_t unit : {1u, 2u, 3u, 4u, 5u})
        EXPECT_SAME_BYTES(decode(unit), large);
}

TEST_F(DecoderFixture, StopAndTheRunsEndAgreeOnWhetherTheFileGoes)
{
    // A one-block song ends at once; a stop races it. Whatever the stop is told happens.
    std::mt19937 random(7);
    TestSong d;
    d.Frames = "100";
    int took = 0, late = 0;
    // The pause before the stop follows the outcomes, so that both keep happening whatever
    // the machine's speed.
    double scale = 100; // microseconds
    for (int round = 0; round < 300; ++round) {
        bool stopped = false;
        {
            TZoKpiFileDecoderThread thread(Song(d), dir / "race.wav");
            thread.Start();
            const auto pause = std::chrono::microseconds(
                static_cast<int64_t>(std::uniform_real_distribution<>(0, 2 * scale)(random)));
            const auto until = std::chrono::steady_clock::now() + pause;
            while (std::chrono::steady_clock::now() < until) {
            }
            stopped = thread.RequestStop();
            thread.WaitFor();
            EXPECT_EQ(thread.Aborted(), stopped);
        }
        EXPECT_EQ(std::filesystem::exists(dir / "race.wav"), !stopped) << "round " << round;
        ++(stopped ? took : late);
        scale *= stopped ? 1.1 : 0.9;
    }
    // Both outcomes happened, so the race was really run.
    EXPECT_GT(took, 0);
    EXPECT_GT(late, 0);
}

TEST_F(DecoderFixture, OutputThroughASymbolicLinkIsCreatedAndDeletedAtItsTarget)
{
    std::filesystem::create_directories(dir / "real");
    std::filesystem::create_symlink(dir / "real/target.wav", dir / "link.wav");
    TestSong d;
    d.Frames = "inf";
    d.DelayMs = 1;
    {
        TZoKpiFileDecoderThread thread(Song(d), dir / "link.wav");
        EXPECT_EQ(thread.CreatedPath(),
                  std::filesystem::canonical(dir / "real/target.wav").string());
        thread.Start();
        while (plugin.Counts().Render < 3)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(thread.RequestStop());
        thread.WaitFor();
    }
    // The partial file is gone; the link the user made stays.
    EXPECT_FALSE(std::filesystem::exists(dir / "real/target.wav"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.wav"));
}

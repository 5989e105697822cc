// The WAV written to standard output: on a pipe, the tags before the PCM and the sizes of an
// unknown length; on a regular file, the bytes of any file; after a stop, a partial frame that
// tells the reader the stream was cut short; a reader that has gone, reported.
#include "decoder/kpiFileDecoderThread.h"
#include "kpi/KPI.h"
#include "kpi/KpiSong.h"
#include "platform/LittleEndian.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

using testkpi::TestSong;
using testsupport::ReadFileBytes;

namespace {

constexpr uint32_t kUnknown = WavFileWriter::kUnknownDataSize;

struct WavStream : ::testing::Test {
    testsupport::TempFolder dir;
    testkpi::TestPlugin plugin{dir / "a.kpi"};
    TZoKpi kpi{plugin.Path()};
    int pipeEnds[2] = {-1, -1};
    std::string received;
    std::thread reader;

    void SetUp() override { ASSERT_EQ(::pipe(pipeEnds), 0); }
    void TearDown() override
    {
        if (reader.joinable())
            reader.join();
        if (pipeEnds[0] >= 0)
            ::close(pipeEnds[0]);
    }
    std::unique_ptr<TZoSong> Song(const TestSong& description)
    {
        description.WriteTo(dir / "s.tst");
        return std::make_unique<TZoSong>(dir / "s.tst", kpi);
    }
    // The pipe's writing end as the stream, and a reader that keeps what comes until its end.
    std::FILE* PipeStream()
    {
        reader = std::thread([this] {
            char buffer[65536];
            for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
                received.append(buffer, static_cast<size_t>(n));
        });
        return ::fdopen(pipeEnds[1], "wb");
    }
    std::string Received()
    {
        reader.join();
        return received;
    }
    static void Run(TZoKpiFileDecoderThread& thread)
    {
        thread.Start();
        thread.WaitFor();
    }
};

std::string Pcm(const TestSong& song, uint64_t bytes)
{
    const auto v = testkpi::ExpectedPcm(song, 0, 0, bytes);
    return std::string(v.begin(), v.end());
}

uint32_t At(const std::string& bytes, size_t offset)
{
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

} // namespace

TEST_F(WavStream, APipeGetsTheTagsFirstAndTheSizesOfAnUnknownLength)
{
    TestSong d;
    d.Rate = 8000;
    d.Bits = 8;
    d.Channels = 1;
    d.Frames = "1001"; // odd: a file would add a pad byte, which a stream's reader takes for data
    {
        TZoKpiFileDecoderThread thread(Song(d), PipeStream(), false, "standard output");
        thread.TagInfo.Title = "x";
        Run(thread);
        EXPECT_EQ(thread.FatalMessage(), "");
    }
    const std::string list("LIST\x0e\0\0\0INFOINAM\x01\0\0\0x\0", 22);
    std::string header = "RIFF";
    le::Append32(header, kUnknown + 4 + 26 + 22 + 8);
    header += std::string("WAVEfmt \x12\0\0\0\x01\0\x01\0", 16);
    le::Append32(header, 8000);
    le::Append32(header, 8000);
    header += std::string("\x01\0\x08\0\0\0", 6);
    header += list + "data";
    le::Append32(header, kUnknown);
    EXPECT_TRUE(Received() == header + Pcm(d, 1001));
}

TEST_F(WavStream, ARegularFileGetsTheBytesOfAnyFile)
{
    TestSong d;
    d.Frames = "3000";
    {
        TZoKpiFileDecoderThread named(Song(d), dir / "named.wav");
        named.TagInfo.Artist = "Singer";
        Run(named);
    }
    {
        TZoKpiFileDecoderThread redirected(Song(d), std::fopen((dir / "out.wav").c_str(), "wb"),
                                           true, "standard output");
        redirected.TagInfo.Artist = "Singer";
        Run(redirected);
    }
    EXPECT_TRUE(ReadFileBytes(dir / "out.wav") == ReadFileBytes(dir / "named.wav"));
}

TEST_F(WavStream, AStopEndsTheStreamInAPartialFrameAndDeletesNothing)
{
    TestSong endless;
    endless.Frames = "inf";
    endless.DelayMs = 1;
    const auto stopAfterFiveBlocks = [&](TZoKpiFileDecoderThread& thread) {
        const int rendered = plugin.Counts().Render;
        thread.Start();
        while (plugin.Counts().Render < rendered + 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_TRUE(thread.RequestStop());
        thread.WaitFor();
        EXPECT_TRUE(thread.Aborted());
    };
    {
        TZoKpiFileDecoderThread thread(Song(endless), PipeStream(), false, "standard output");
        stopAfterFiveBlocks(thread);
    }
    const std::string piped = Received();
    ASSERT_GT(piped.size(), 46u + 5 * 8192);
    EXPECT_EQ(At(piped, 42), kUnknown);
    EXPECT_EQ((piped.size() - 46) % 4, 1u); // whole stereo 16-bit frames, and one byte more

    // Standard output that is a file keeps it too, its header claiming one frame more.
    {
        TZoKpiFileDecoderThread thread(Song(endless), std::fopen((dir / "out.wav").c_str(), "wb"),
                                       true, "standard output");
        stopAfterFiveBlocks(thread);
    }
    const std::string file = ReadFileBytes(dir / "out.wav");
    ASSERT_GT(file.size(), 46u + 5 * 8192);
    EXPECT_EQ((file.size() - 46) % 4, 1u);
    EXPECT_EQ(At(file, 42), file.size() - 46 - 1 + 4);
    EXPECT_EQ(At(file, 4), At(file, 42) + 38);
}

TEST_F(WavStream, AReaderThatHasGoneFailsTheRunWithTheSystemsReason)
{
    ::close(pipeEnds[0]);
    pipeEnds[0] = -1;
    TestSong d;
    d.Frames = "3000";
    TZoKpiFileDecoderThread thread(Song(d), ::fdopen(pipeEnds[1], "wb"), false, "standard output");
    Run(thread); // SIGPIPE would have ended this test program
    EXPECT_EQ(thread.FatalMessage(),
              txt::Format(txt::Id::WavStreamNotWritten, {std::strerror(EPIPE)}));
}

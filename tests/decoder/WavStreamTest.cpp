// The WAV written to a pipe: the tags before the PCM and the sizes of an unknown length; a
// reader that has gone, reported.
#include "decoder/kpiFileDecoderThread.h"
#include "kpi/KPI.h"
#include "kpi/KpiSong.h"
#include "platform/LittleEndian.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <thread>

using testkpi::TestSong;

namespace {

struct WavStream : ::testing::Test {
    testsupport::TempFolder dir;
    testkpi::TestPlugin plugin{dir / "a.kpi"};
    TZoKpi kpi{plugin.Path()};
    int ends[2] = {-1, -1};

    void SetUp() override { ASSERT_EQ(::pipe(ends), 0); }
    // Runs the song into the pipe; returns what the pipe carried and the run's failure.
    std::pair<std::string, std::string> Decode(const TestSong& song, const std::string& title)
    {
        std::string received;
        std::thread reader([&] {
            char buffer[65536];
            for (ssize_t n; ends[0] >= 0 && (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
                received.append(buffer, static_cast<size_t>(n));
        });
        song.WriteTo(dir / "s.tst");
        std::string failure;
        {
            TZoKpiFileDecoderThread thread(std::make_unique<TZoSong>(dir / "s.tst", kpi),
                                           ::fdopen(ends[1], "wb"), false, "standard output");
            thread.TagInfo.Title = title;
            thread.Start();
            thread.WaitFor();
            failure = thread.FatalMessage();
        } // closes the stream
        reader.join();
        if (ends[0] >= 0)
            ::close(ends[0]);
        return {received, failure};
    }
};

} // namespace

TEST_F(WavStream, APipeGetsTheTagsFirstAndTheSizesOfAnUnknownLength)
{
    TestSong d;
    d.Rate = 8000;
    d.Bits = 8;
    d.Channels = 1;
    d.Frames = "1001"; // odd: a file would add a pad byte, which a stream's reader takes for data
    const uint32_t unknown = WavFileWriter::kUnknownDataSize;
    std::string header = "RIFF";
    le::Append32(header, unknown + 4 + 26 + 22 + 8);
    header +=
        std::string("WAVEfmt \x12\0\0\0\x01\0\x01\0\x40\x1f\0\0\x40\x1f\0\0\x01\0\x08\0\0\0", 30);
    header += std::string("LIST\x0e\0\0\0INFOINAM\x01\0\0\0x\0", 22) + "data";
    le::Append32(header, unknown);
    const auto pcm = testkpi::ExpectedPcm(d, 0, 0, 1001);
    const auto [received, failure] = Decode(d, "x");
    EXPECT_EQ(failure, "");
    EXPECT_TRUE(received == header + std::string(pcm.begin(), pcm.end()));
}

TEST_F(WavStream, AReaderThatHasGoneFailsTheRunWithTheSystemsReason)
{
    ::close(ends[0]); // SIGPIPE would end this test program
    ends[0] = -1;
    TestSong d;
    EXPECT_EQ(Decode(d, "").second,
              txt::Format(txt::Id::WavStreamNotWritten, {std::strerror(EPIPE)}));
}

// sndfile.kpi through the host's plug-in classes. Input files are made with sox (ffmpeg for
// Opus) and what the plug-in renders is held against sox's own decoding of the same file.
#include "kpi/KPI.h"
#include "kpi/KpiSong.h"
#include "plugins/sndfile/SampleConversion.h"
#include "tests/plugins/PluginHarness.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

using namespace plugintest;
using testsupport::ReadFileBytes;
using testsupport::TempFolder;
using testsupport::WriteFileBytes;

namespace {

class SndfilePlugin : public ::testing::Test {
protected:
    // Makes name with sox from a noise signal (every bit of every sample in use).
    std::string Make(const std::string& name, const std::string& options, double seconds = 1.3)
    {
        const std::string path = Dir / name;
        EXPECT_TRUE(RunCommand("sox -R -n " + options + " " + path + " synth " +
                               std::to_string(seconds) + " whitenoise vol 0.9 2>/dev/null"))
            << name;
        return path;
    }

    // sox's decoding of path as raw little-endian signed PCM of bits (-D: rounded, no dither).
    std::string Reference(const std::string& path, int bits)
    {
        const std::string raw = Dir / "reference.raw";
        EXPECT_TRUE(RunCommand("sox -V1 -D " + path + " -t raw -e signed-integer -L -b " +
                               std::to_string(bits) + " " + raw));
        return ReadFileBytes(raw);
    }

    TempFolder Dir;
    TZoKpi Kpi{BuiltPlugin("sndfile.kpi")};
};

} // namespace

TEST(SndfilePluginLibrary, IsUnloadedWithItsHost)
{
    const std::string path = BuiltPlugin("sndfile.kpi");
    {
        TZoKpi kpi(path);
    }
    EXPECT_FALSE(IsLoaded(path));
}

TEST_F(SndfilePlugin, ClaimsTheFormatsDebiansLibsndfileReads)
{
    for (const char* ext : {"wav", "flac", "ogg", "opus", "aiff", "aif", "caf", "w64", "mp3"})
        EXPECT_TRUE(Kpi.HasExtension(ext)) << ext;
    EXPECT_FALSE(Kpi.HasExtension("nsf"));
    EXPECT_NE(Kpi.Module().Reentrant, 0u);
}

TEST_F(SndfilePlugin, LosslessFilesComeOutInTheirOwnFormatSampleForSample)
{
    struct Case {
        const char* name;
        const char* options;
        uint32_t rate, channels, bits;
    };
    const Case cases[] = {
        {"s16.wav", "-r 44100 -c 2 -b 16", 44100, 2, 16},
        {"s24.wav", "-r 48000 -c 1 -b 24", 48000, 1, 24},
        {"s32.wav", "-r 44100 -c 2 -b 32", 44100, 2, 32},
        {"s16.flac", "-r 44100 -c 2 -b 16", 44100, 2, 16},
        {"s24.flac", "-r 96000 -c 2 -b 24", 96000, 2, 24},
        {"s16.aiff", "-r 22050 -c 2 -b 16", 22050, 2, 16},
        {"s24.caf", "-r 44100 -c 2 -b 24", 44100, 2, 24},
        {"s16.w64", "-r 32000 -c 6 -b 16", 32000, 6, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = Make(c.name, c.options);
        TZoSong song(path, Kpi);
        ASSERT_NE(song.Handle, 0u);
        EXPECT_EQ(song.Format.SampleRate, c.rate);
        EXPECT_EQ(song.Format.Channels, c.channels);
        EXPECT_EQ(song.Format.BitsPerSample, c.bits);
        EXPECT_EQ(song.Format.LengthMs, 1300u);
        EXPECT_EQ(song.Format.Endless, 0u);
        EXPECT_EQ(song.Format.MultiSong, 0u);
        EXPECT_EQ(song.Format.UnitRenderSize % (c.channels * c.bits / 8), 0u);

        const Rendered r = RenderSong(song, 1u << 30);
        EXPECT_TRUE(r.Ended);
        EXPECT_EQ(r.BytesAfterEnd, 0u);
        EXPECT_TRUE(r.Pcm == Reference(path, static_cast<int>(c.bits)));
    }
}

TEST_F(SndfilePlugin, RequestedDepthIsRenderedButRateAndChannelsStayTheFilesOwn)
{
    const std::string deep = Make("deep.flac", "-r 44100 -c 2 -b 24");
    for (uint32_t bits : {16u, 24u, 32u}) {
        SCOPED_TRACE(bits);
        TZoSong song(deep, Kpi, SoundFormat{8000, 1, bits, 0, 0, 0, 0, 0});
        EXPECT_EQ(song.Format.SampleRate, 44100u);
        EXPECT_EQ(song.Format.Channels, 2u);
        EXPECT_EQ(song.Format.BitsPerSample, bits);
        EXPECT_TRUE(RenderSong(song, 1u << 30).Pcm == Reference(deep, static_cast<int>(bits)));
    }
    // A depth the plug-in does not write counts as no request.
    TZoSong song(deep, Kpi, SoundFormat{0, 0, 8, 0, 0, 0, 0, 0});
    EXPECT_EQ(song.Format.BitsPerSample, 24u);
}

TEST_F(SndfilePlugin, FilesWithoutA16To32BitIntegerDepthDefaultTo16)
{
    for (const char* options : {"-b 8", "-e floating-point -b 32", "-e u-law"}) {
        SCOPED_TRACE(options);
        const std::string path = Make("other.wav", std::string("-r 44100 -c 2 ") + options);
        TZoSong song(path, Kpi);
        EXPECT_EQ(song.Format.BitsPerSample, 16u);
        EXPECT_TRUE(RenderSong(song, 1u << 30).Pcm == Reference(path, 16));
    }
}

TEST_F(SndfilePlugin, RenderSizesThatSplitFramesLoseNothing)
{
    const std::string path = Make("s24.wav", "-r 44100 -c 2 -b 24", 0.3);
    const std::string reference = Reference(path, 24);
    for (uint32_t size : {1u, 7u, 1001u, 65536u}) {
        TZoSong song(path, Kpi);
        const Rendered r = RenderSong(song, 1u << 30, size);
        EXPECT_TRUE(r.Pcm == reference) << size;
    }
}

TEST_F(SndfilePlugin, SeekStartsAtTheSecond)
{
    const std::string path = Make("three.flac", "-r 8000 -c 2 -b 16", 3);
    const std::string reference = Reference(path, 16);
    TZoSong song(path, Kpi);
    song.Seek(2);
    EXPECT_TRUE(RenderSong(song, 1u << 30).Pcm == reference.substr(2 * 8000 * 4));
    song.Seek(1);
    EXPECT_TRUE(RenderSong(song, 1u << 30).Pcm == reference.substr(8000 * 4));
    song.Seek(9);
    const Rendered beyond = RenderSong(song, 1u << 30);
    EXPECT_TRUE(beyond.Ended);
    EXPECT_TRUE(beyond.Pcm.empty());
}

TEST_F(SndfilePlugin, LossyFilesOpenWithTheirLengthAndPlayTheirSound)
{
    const std::string ogg = Dir / "tone.ogg", mp3 = Dir / "tone.mp3", opus = Dir / "tone.opus";
    ASSERT_TRUE(RunCommand("sox -n -r 44100 -c 2 " + ogg + " synth 2 sine 441"));
    ASSERT_TRUE(RunCommand("sox -n -r 44100 -c 2 " + mp3 + " synth 2 sine 441"));
    ASSERT_TRUE(RunCommand("ffmpeg -loglevel error -f lavfi -i sine=frequency=441:duration=2 -ac 2 "
                           "-c:a libopus " +
                           opus));
    for (const std::string& path : {ogg, mp3, opus}) {
        SCOPED_TRACE(path);
        TZoSong song(path, Kpi);
        ASSERT_NE(song.Handle, 0u);
        EXPECT_EQ(song.Format.Channels, 2u);
        EXPECT_EQ(song.Format.BitsPerSample, 16u);
        EXPECT_NEAR(song.Format.LengthMs, 2000, 60);
        const Rendered r = RenderSong(song, 1u << 30);
        EXPECT_TRUE(r.Ended);
        const uint32_t rate = song.Format.SampleRate;
        EXPECT_NEAR(double(r.Pcm.size()) / (rate * 4) * 1000, song.Format.LengthMs, 30);
        const auto s = Samples16(r.Pcm);
        EXPECT_NEAR(Frequency(s, 2, 0, rate / 2, rate * 3 / 2, rate), 441, 2);
    }

    // Vorbis decodes to floating point; sox rounds it to 16 bits on its own path, which may
    // fall one step apart, but the samples line up one for one.
    TZoSong song(ogg, Kpi);
    const auto plugin = Samples16(RenderSong(song, 1u << 30).Pcm);
    const auto sox = Samples16(Reference(ogg, 16));
    ASSERT_EQ(plugin.size(), sox.size());
    for (size_t i = 0; i < plugin.size(); ++i)
        ASSERT_NEAR(plugin[i], sox[i], 1) << i;
}

TEST_F(SndfilePlugin, DamagedFilesFailTheOpenOrEndTheSongEarly)
{
    const std::string whole = Make("whole.flac", "-r 44100 -c 2 -b 16", 4);
    const std::string bytes = ReadFileBytes(whole);
    WriteFileBytes(Dir / "cut.flac", bytes.substr(0, bytes.size() / 2));
    {
        // Its header is intact, so it opens with the whole length and ends where the data does.
        TZoSong song(Dir / "cut.flac", Kpi);
        ASSERT_NE(song.Handle, 0u);
        EXPECT_EQ(song.Format.LengthMs, 4000u);
        const Rendered r = RenderSong(song, 1u << 30);
        EXPECT_TRUE(r.Ended);
        EXPECT_GT(r.Pcm.size(), 44100 * 4);
        EXPECT_LT(r.Pcm.size(), 3 * 44100 * 4);
        // What was there comes out unharmed.
        EXPECT_TRUE(r.Pcm == Reference(whole, 16).substr(0, r.Pcm.size()));
    }
    std::mt19937 random(8);
    std::string noise(65536, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    const std::pair<const char*, std::string> refused[] = {
        {"noise.flac", noise},
        {"noise.wav", noise},
        {"noise.mp3", noise},
        {"empty.wav", ""},
        {"text.ogg", "not audio at all"},
    };
    for (const auto& [name, content] : refused) {
        SCOPED_TRACE(name);
        WriteFileBytes(Dir / name, content);
        TZoSong song(Dir / name, Kpi);
        EXPECT_EQ(song.Handle, 0u);
        EXPECT_EQ(song.Format.SampleRate * song.Format.Channels * song.Format.BitsPerSample, 0u);
    }
    // A well-formed file with more channels than any sound card has.
    TZoSong wide(Make("wide.wav", "-c 64 -b 16", 0.1), Kpi);
    EXPECT_EQ(wide.Handle, 0u);
    TZoSong missing(Dir / "missing.wav", Kpi);
    EXPECT_EQ(missing.Handle, 0u);
}

TEST_F(SndfilePlugin, SongsOpenTogetherRenderIndependentlyOnAnotherThread)
{
    const std::string a = Make("a.flac", "-r 44100 -c 2 -b 16");
    const std::string b = Make("b.wav", "-r 48000 -c 1 -b 24");
    TZoSong songA(a, Kpi), songB(b, Kpi);
    EXPECT_EQ(Kpi.OpenCount(), 2);
    Rendered ra, rb;
    std::thread decoder([&] {
        // Interleaved block by block, each song keeping its own place.
        while (!songA.Ended || !songB.Ended) {
            if (!songA.Ended)
                ra.Pcm += RenderSong(songA, 1).Pcm;
            if (!songB.Ended)
                rb.Pcm += RenderSong(songB, 1).Pcm;
        }
    });
    decoder.join();
    EXPECT_TRUE(ra.Pcm == Reference(a, 16));
    EXPECT_TRUE(rb.Pcm == Reference(b, 24));
}

TEST(SndfileSampleConversion, RoundsToNearestAndClips)
{
    using sndfilekpi::FloatToDepth;
    using sndfilekpi::IntToDepth;
    // Full scale is 2^(bits-1): 0.999 lands on 32735, not 32734 as with 32767 as full scale.
    EXPECT_EQ(FloatToDepth(0.999, 16), 32735);
    EXPECT_EQ(FloatToDepth(0.5, 24), 1 << 22);
    EXPECT_EQ(FloatToDepth(-1.0, 16), -32768);
    EXPECT_EQ(FloatToDepth(1.0, 16), 32767);
    EXPECT_EQ(FloatToDepth(1.7, 32), INT32_MAX);
    EXPECT_EQ(FloatToDepth(-1.7, 24), -(1 << 23));
    EXPECT_EQ(FloatToDepth(std::nan(""), 16), 0);
    EXPECT_EQ(FloatToDepth(0.4 / 32768, 16), 0);
    EXPECT_EQ(FloatToDepth(0.6 / 32768, 16), 1);

    EXPECT_EQ(IntToDepth(0x12345678, 32), 0x12345678);
    EXPECT_EQ(IntToDepth(0x1234'7FFF, 16), 0x1234);
    EXPECT_EQ(IntToDepth(0x1234'8000, 16), 0x1235);
    EXPECT_EQ(IntToDepth(INT32_MAX, 16), 32767);
    EXPECT_EQ(IntToDepth(INT32_MIN, 24), -(1 << 23));
    EXPECT_EQ(IntToDepth(-0x100, 24), -1);
}

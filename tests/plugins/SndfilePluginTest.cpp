// sndfile.kpi through the host's plug-in classes. Input files are made with sox (ffmpeg for
// Opus) and what the plug-in renders is held against sox's own decoding of the same file.
#include "kpi/KPI.h"
#include "kpi/KpiSong.h"
#include "plugins/sndfile/ChannelMix.h"
#include "plugins/sndfile/SampleConversion.h"
#include "tests/plugins/PluginHarness.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WavReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
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

TEST_F(SndfilePlugin, FieldsAskedAsZeroKeepTheFilesOwnRateAndChannels)
{
    const std::string deep = Make("deep.flac", "-r 44100 -c 2 -b 24");
    for (uint32_t bits : {16u, 24u, 32u}) {
        SCOPED_TRACE(bits);
        TZoSong song(deep, Kpi, SoundFormat{0, 0, bits, 0, 0, 0, 0, 0});
        EXPECT_EQ(song.Format.SampleRate, 44100u);
        EXPECT_EQ(song.Format.Channels, 2u);
        EXPECT_EQ(song.Format.BitsPerSample, bits);
        EXPECT_TRUE(RenderSong(song, 1u << 30).Pcm == Reference(deep, static_cast<int>(bits)));
    }
    // A depth the plug-in does not write, and a channel count other than one or two, count as
    // no request.
    TZoSong song(deep, Kpi, SoundFormat{0, 6, 8, 0, 0, 0, 0, 0});
    EXPECT_EQ(song.Format.BitsPerSample, 24u);
    EXPECT_EQ(song.Format.Channels, 2u);
}

TEST_F(SndfilePlugin, CdFromA48kHzMonoFlacIsResampledLikeSoxAndTheSameEveryTime)
{
    const std::string path = Dir / "mono48.flac";
    ASSERT_TRUE(RunCommand("sox -R -n -r 48000 -c 1 -b 16 " + path +
                           " synth 3 sine 200-9000 vol 0.7 2>/dev/null"));
    const SoundFormat cd{44100, 2, 16, 0, 0, 0, 0, 0};
    TZoSong song(path, Kpi, cd);
    ASSERT_NE(song.Handle, 0u);
    EXPECT_EQ(song.Format.SampleRate, 44100u);
    EXPECT_EQ(song.Format.Channels, 2u);
    EXPECT_EQ(song.Format.BitsPerSample, 16u);
    EXPECT_EQ(song.Format.LengthMs, 3000u);
    const Rendered first = RenderSong(song, 1u << 30);
    EXPECT_TRUE(first.Ended);
    ASSERT_EQ(first.Pcm.size(), 3u * 44100 * 4) << "three seconds exactly";
    TZoSong again(path, Kpi, cd);
    EXPECT_TRUE(RenderSong(again, 1u << 30).Pcm == first.Pcm);

    const std::string raw = Dir / "sox.raw";
    ASSERT_TRUE(RunCommand("sox -V1 -D " + path + " -t raw -e signed-integer -L -b 16 -c 2 " + raw +
                           " rate -v 44100"));
    const std::vector<int16_t> ours = Samples16(first.Pcm);
    const std::vector<int16_t> sox = Samples16(ReadFileBytes(raw));
    ASSERT_EQ(ours.size(), sox.size());
    double signal = 0, difference = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        signal += double(sox[i]) * sox[i];
        difference += double(ours[i] - sox[i]) * (ours[i] - sox[i]);
        if (i % 2 == 1) {
            ASSERT_EQ(ours[i], ours[i - 1]) << "mono is copied to both sides";
        }
    }
    EXPECT_GT(10 * std::log10(signal / std::max(difference, 1.0)), 40.0);
}

TEST_F(SndfilePlugin, StereoIsAveragedIntoMonoAndASeekKeepsTheConvertedLengthExact)
{
    const std::string stereo = Make("stereo.wav", "-r 44100 -c 2 -b 16", 0.5);
    TZoSong mono(stereo, Kpi, SoundFormat{0, 1, 24, 0, 0, 0, 0, 0});
    ASSERT_EQ(mono.Format.Channels, 1u);
    const std::vector<int32_t> got =
        testsupport::SamplesFromPcm(RenderSong(mono, 1u << 30).Pcm, 24);
    const std::vector<int16_t> both = Samples16(Reference(stereo, 16));
    ASSERT_EQ(got.size(), both.size() / 2);
    for (size_t f = 0; f < got.size(); ++f)
        ASSERT_EQ(got[f] >> 8,
                  sndfilekpi::FloatToDepth((both[2 * f] + both[2 * f + 1]) / 65536.0, 24))
            << f;

    // Resampled from the second second on: the rest of the song at the new rate, to the frame.
    const std::string path = Make("three.flac", "-r 48000 -c 2 -b 16", 3);
    TZoSong song(path, Kpi, SoundFormat{22050, 2, 16, 0, 0, 0, 0, 0});
    song.Seek(1);
    EXPECT_EQ(RenderSong(song, 1u << 30).Pcm.size(), 2u * 22050 * 4);
}

TEST(SndfileChannelMix, SurroundFoldsIntoStereoAndStereoAveragesIntoMonoWithoutClipping)
{
    using namespace sndfilekpi;
    const double h = std::sqrt(0.5), scale = 1 + 2 * h;
    const std::vector<double> stereo = MixMatrix(DefaultSpeakers(6), 2);
    const std::vector<double> expected = {1 / scale, 0,         h / scale, 0, h / scale, 0,
                                          0,         1 / scale, h / scale, 0, 0,         h / scale};
    ASSERT_EQ(stereo.size(), expected.size());
    for (size_t i = 0; i < stereo.size(); ++i)
        EXPECT_NEAR(stereo[i], expected[i], 1e-12) << i;
    EXPECT_EQ(MixMatrix(DefaultSpeakers(2), 1), (std::vector<double>{0.5, 0.5}));
    EXPECT_EQ(MixMatrix(DefaultSpeakers(1), 2), (std::vector<double>{1, 1}));
    for (int count = 1; count <= 10; ++count)
        for (uint32_t out : {1u, 2u}) {
            const std::vector<double> m = MixMatrix(DefaultSpeakers(count), out);
            for (uint32_t o = 0; o < out; ++o) {
                double sum = 0;
                for (int i = 0; i < count; ++i)
                    sum += std::fabs(m[o * count + i]);
                EXPECT_LE(sum, 1 + 1e-12) << count << " to " << out;
                EXPECT_GT(sum, 0.5) << count << " to " << out;
            }
        }
}

TEST_F(SndfilePlugin, TagsOfFlacAndWavFilesAreTheSongsInformation)
{
    const std::string flac = Dir / "tagged.flac";
    ASSERT_TRUE(RunCommand("ffmpeg -loglevel error -f lavfi -i sine=duration=0.2 -metadata "
                           "title=Overworld -metadata artist=田中 -metadata album=Adventure "
                           "-metadata date=1987 -metadata track=3 -metadata 'copyright=(C) P' " +
                           flac));
    TZoSong song(flac, Kpi);
    const TZoSongInfo info = song.Info();
    EXPECT_EQ(info.Title, "Overworld");
    EXPECT_EQ(info.Artist, "田中");
    EXPECT_EQ(info.Album, "Adventure");
    EXPECT_EQ(info.Date, "1987");
    EXPECT_EQ(info.Track, "3");
    EXPECT_EQ(info.Copyright, "(C) P");

    // A WAV file's INFO texts as a Japanese system writes them, in Shift_JIS.
    std::string wav = ReadFileBytes(Make("plain.wav", "-r 8000 -c 1 -b 16", 0.1));
    const std::string name = "\x93\x63\x92\x86"; // 田中
    wav += "LIST" + std::string("\x10\0\0\0INFOIART\x04\0\0\0", 16) + name;
    const uint32_t riff = static_cast<uint32_t>(wav.size() - 8);
    wav.replace(4, 4, std::string{char(riff), char(riff >> 8), char(riff >> 16), char(riff >> 24)});
    WriteFileBytes(Dir / "sjis.wav", wav);
    TZoSong sjis(Dir / "sjis.wav", Kpi);
    EXPECT_EQ(sjis.Info().Artist, "田中");
    EXPECT_EQ(sjis.Info().Title, "");
}

TEST_F(SndfilePlugin, AFailedOpenSaysWhy)
{
    const auto why = [&](const std::string& path, SoundFormat format = {}) {
        TZoSong song(path, Kpi, format);
        EXPECT_EQ(song.Handle, 0u) << path;
        return song.OpenFailure;
    };
    EXPECT_EQ(why(Dir / "missing.wav"),
              "ファイル " + Dir / "missing.wav" + " を読み込めません (No such file or directory)");
    std::filesystem::create_directory(Dir / "folder.wav");
    EXPECT_EQ(why(Dir / "folder.wav"),
              "ファイル " + Dir / "folder.wav" + " は通常のファイルではありません");
    WriteFileBytes(Dir / "text.flac", "not audio at all, not even close to it");
    EXPECT_EQ(why(Dir / "text.flac"),
              "対応していない形式です (libsndfile: Format not recognised.)");
    std::string wav = ReadFileBytes(Make("damaged.wav", "-r 8000 -c 1 -b 16", 0.1));
    wav.replace(36, 4, "dxta");
    WriteFileBytes(Dir / "damaged.wav", wav);
    EXPECT_EQ(why(Dir / "damaged.wav"),
              "ファイルが壊れています (libsndfile: Error in WAV file. No 'data' chunk marker.)");
    EXPECT_EQ(why(Make("wide.wav", "-c 64 -b 16", 0.1)),
              "ファイルが壊れているか、対応していないチャンネル数です (64 チャンネル)");
    EXPECT_EQ(
        why(Make("low.wav", "-r 8000 -c 1 -b 16", 0.1), SoundFormat{500, 0, 0, 0, 0, 0, 0, 0}),
        "サンプリング周波数 500 Hz には変換できません (1000 〜 768000 Hz)");
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

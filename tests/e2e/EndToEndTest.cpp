// The whole program with its reference plug-ins: files made by other programs, and a real
// game-music file from a Debian package, decoded through the window into WAV files that other
// programs read.
#include "tests/plugins/GameMusicFiles.h"
#include "tests/plugins/MidiFiles.h"
#include "tests/plugins/PluginHarness.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/WavReader.h"
#include "tests/ui/WindowFixture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

#include <cstdlib>
#include <filesystem>

using plugintest::RunCommand;
using uitest::LogLines;
namespace fs = std::filesystem;

namespace {

constexpr const char* kRealGbs = "/usr/share/doc/gbsplay/examples/nightmode.gbs";

struct EndToEnd : uitest::WindowFixture {
    std::unique_ptr<TfrmMain> window;

    void SetUp() override
    {
        UsePluginFolder(PELLAN_PLUGIN_OUTPUT_DIR);
        window.reset();
        // A setting that fades songs without a length after 10 s over 1 s.
        StoreSetting("10 s", 0, 0, 0, 10, 1000);
        StoreSetting("CD", 44100, 16, 2, 115, 5000);
        StoreSetting("プラグインのデフォルト", 0, 0, 0, 86, 4000);
        window = Open();
    }
    void Decode(const std::string& source, const std::string& output, const std::string& setting,
                int song = 1)
    {
        window->lstLog->clear();
        window->lbeSourceFile->setText(QString::fromStdString(source));
        window->lbePCMFile->setText(QString::fromStdString(output));
        window->cmbPCMFormat->setCurrentIndex(
            window->cmbPCMFormat->findText(QString::fromStdString(setting)));
        window->speSongNum->setValue(song);
        window->btnSingleDecode->click();
        ASSERT_TRUE(uitest::WaitUntil(
            [&] {
                const auto lines = LogLines(*window);
                return !lines.empty() && (lines.back() == "デコードは完了しました" ||
                                          lines.back() == "警告: デコードは失敗しました");
            },
            60000));
    }
    // sox's own decoding as raw little-endian samples of bits.
    std::string SoxDecode(const std::string& path, int bits)
    {
        const std::string raw = env.Dir / "sox.raw";
        EXPECT_TRUE(RunCommand("sox -V1 -D " + path + " -t raw -e signed-integer -L -b " +
                               std::to_string(bits) + " " + raw));
        return testsupport::ReadFileBytes(raw);
    }
    // Whether soxi and ffprobe both read the file as a WAV of that many channels.
    void ExpectOtherProgramsReadIt(const std::string& path, int channels)
    {
        EXPECT_TRUE(RunCommand("soxi " + path + " >/dev/null 2>&1")) << path;
        EXPECT_TRUE(RunCommand("test \"$(soxi -c " + path + ")\" = " + std::to_string(channels)));
        EXPECT_TRUE(RunCommand("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " +
                               path + " | grep -q pcm_s"))
            << path;
    }
};

} // namespace

TEST_F(EndToEnd, ReferencePluginsLoadAtStart)
{
    const auto lines = LogLines(*window);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "  midi.kpi ver.1 をロードしました"),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "  gme.kpi ver.1 をロードしました"),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "  sndfile.kpi ver.1 をロードしました"),
              lines.end());
    EXPECT_EQ(lines.back(), "3 個のプラグインをロードしました");
}

TEST_F(EndToEnd, LosslessFilesFromSoxComeOutSampleForSample)
{
    struct Case {
        std::string name, options;
        int bits, channels;
    };
    for (const Case& c :
         {Case{"a.flac", "-r 44100 -c 2 -b 16", 16, 2}, Case{"b.wav", "-r 48000 -c 1 -b 24", 24, 1},
          Case{"c.aiff", "-r 22050 -c 2 -b 16", 16, 2}}) {
        SCOPED_TRACE(c.name);
        const std::string source = env.Dir / c.name;
        ASSERT_TRUE(RunCommand("sox -R -n " + c.options + " " + source +
                               " synth 2.5 sine 440 sine 660 vol 0.8 2>/dev/null"));
        const std::string output = env.Dir / (c.name + ".out.wav");
        Decode(source, output, "プラグインのデフォルト");
        EXPECT_EQ(LogLines(*window).back(), "デコードは完了しました");
        EXPECT_EQ(LogLines(*window)[1], "  プラグイン sndfile.kpi を使用します");
        // The PCM alone: sox's comment in a FLAC file follows it as the WAV file's ICMT.
        const std::string file = testsupport::ReadFileBytes(output);
        const std::string pcm = SoxDecode(source, c.bits);
        EXPECT_TRUE(file.substr(46, pcm.size()) == pcm) << "PCM differs from sox's";
        ExpectOtherProgramsReadIt(output, c.channels);
    }
}

TEST_F(EndToEnd, OggVorbisFromSoxMatchesSoxWithinOneStep)
{
    const std::string source = env.Dir / "a.ogg";
    ASSERT_TRUE(
        RunCommand("sox -R -n -r 44100 -c 2 " + source + " synth 2 sine 300 vol 0.5 2>/dev/null"));
    Decode(source, env.Dir / "ogg.wav", "CD");
    const auto wav = testsupport::ReadWavWithSndfile(env.Dir / "ogg.wav");
    ASSERT_TRUE(wav.Ok);
    const auto reference = plugintest::Samples16(SoxDecode(source, 16));
    ASSERT_EQ(wav.Samples.size(), reference.size());
    int worst = 0;
    for (size_t i = 0; i < reference.size(); ++i)
        worst = std::max(worst, std::abs((wav.Samples[i] >> 16) - reference[i]));
    EXPECT_LE(worst, 1);
    ExpectOtherProgramsReadIt(env.Dir / "ogg.wav", 2);
}

TEST_F(EndToEnd, MultiTrackGameMusicDecodesTheChosenTrackWithTheFadeAtTheDefaultLength)
{
    const std::string nsf = env.Dir / "three.nsf";
    // Periods for three tracks of clearly different pitch.
    testsupport::WriteFileBytes(nsf, plugintest::MakeNsf({253, 126, 63}));
    Decode(nsf, env.Dir / "track2.wav", "10 s", 2);
    EXPECT_EQ(LogLines(*window).back(), "デコードは完了しました");
    const auto wav = testsupport::ReadWavWithSndfile(env.Dir / "track2.wav");
    ASSERT_TRUE(wav.Ok);
    // Faded from 10 s over 1 s, starting up to one block early.
    EXPECT_NEAR(static_cast<double>(wav.Frames) / 44100.0, 11.0, 0.1);
    std::vector<int16_t> samples;
    for (int32_t s : wav.Samples)
        samples.push_back(static_cast<int16_t>(s >> 16));
    const double pitch = plugintest::Frequency(samples, 2, 0, 44100, 88200, 44100);
    EXPECT_NEAR(pitch, 1789773.0 / (16 * 127), 10.0);
    // Loud before the fade, silent at its end.
    EXPECT_GT(plugintest::Rms(samples, 2, 0, 5 * 44100, 6 * 44100), 1000.0);
    EXPECT_LT(plugintest::Rms(samples, 2, 0, samples.size() / 2 - 100, samples.size() / 2), 200.0);
    ExpectOtherProgramsReadIt(env.Dir / "track2.wav", 2);
}

TEST_F(EndToEnd, RealGameBoyTuneFromDebianThroughThePlaylistTab)
{
    ASSERT_TRUE(fs::exists(kRealGbs))
        << "the test needs Debian's gbsplay package (scripts/install-deps.sh)";
    fs::copy_file(kRealGbs, env.Dir / "nightmode.gbs");
    testsupport::WriteFileBytes(env.Dir / "list.kbm",
                                "KbMIDI Player Play List\r\n0=" + (env.Dir / "nightmode.gbs") +
                                    "\r\n2=Nightmode\r\n3=Laxity\r\n");
    window->lstLog->clear();
    window->cmbPcmFormatForMulti->setCurrentIndex(window->cmbPcmFormatForMulti->findText("10 s"));
    window->lbeKbmFile->setText(QString::fromStdString(env.Dir / "list.kbm"));
    window->btnStartMultiDecode->click();
    const auto lines = LogLines(*window);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2], "  プラグイン gme.kpi を使用します");
    EXPECT_EQ(lines.back(), "一括デコードが完了しました。");
    const auto wav = testsupport::ReadWavWithSndfile(env.Dir / "nightmode.wav");
    ASSERT_TRUE(wav.Ok);
    EXPECT_EQ(wav.Title, "Nightmode");
    EXPECT_EQ(wav.Artist, "Laxity");
    EXPECT_GT(wav.Frames, 5 * 44100); // music, not an empty file
    ExpectOtherProgramsReadIt(env.Dir / "nightmode.wav", 2);
}

TEST_F(EndToEnd, TheSongsOwnTextsFillTheInfoChunkUnlessThePlaylistEntryNamesThem)
{
    const std::string flac = env.Dir / "tagged.flac";
    ASSERT_TRUE(RunCommand("ffmpeg -loglevel error -f lavfi -i sine=duration=1:sample_rate=48000 "
                           "-ac 1 -metadata title=Overworld -metadata artist=田中 -metadata "
                           "album=Adventure " +
                           flac));
    Decode(flac, env.Dir / "flac.wav", "CD");
    auto wav = testsupport::ReadWavWithSndfile(env.Dir / "flac.wav");
    ASSERT_TRUE(wav.Ok);
    EXPECT_EQ(wav.Rate, 44100);
    EXPECT_EQ(wav.Channels, 2);
    EXPECT_EQ(wav.Frames, 44100);
    EXPECT_EQ(wav.Title, "Overworld");
    EXPECT_EQ(wav.Artist, "田中");
    EXPECT_EQ(wav.Album, "Adventure");
    EXPECT_TRUE(RunCommand("ffprobe -v error -show_entries format_tags=title -of csv=p=0 " +
                           env.Dir / "flac.wav" + " | grep -qx Overworld"));

    testsupport::WriteFileBytes(env.Dir / "tagged.spc", plugintest::MakeSpc(2));
    Decode(env.Dir / "tagged.spc", env.Dir / "spc.wav", "10 s");
    wav = testsupport::ReadWavWithSndfile(env.Dir / "spc.wav");
    EXPECT_EQ(wav.Title, "Square");
    EXPECT_EQ(wav.Artist, "Quenz");
    EXPECT_EQ(wav.Album, "Pellan Quest");

    const std::string mid = env.Dir / "named.mid";
    plugintest::MidiTrack track;
    track.Raw(std::string("\0\xFF\x03\x0APellan Jig", 14))
        .NoteOn(0, 0, 60)
        .NoteOff(480, 0, 60)
        .End(0);
    testsupport::WriteFileBytes(mid, plugintest::MakeSmf(0, 480, {track}));
    Decode(mid, env.Dir / "mid.wav", "CD");
    EXPECT_EQ(testsupport::ReadWavWithSndfile(env.Dir / "mid.wav").Title, "Pellan Jig");

    // The playlist entry's title wins; the artist it leaves empty comes from the file.
    testsupport::WriteFileBytes(env.Dir / "list.kbm",
                                "KbMIDI Player Play List\r\n0=" + flac + "\r\n2=Entry title\r\n");
    window->cmbPcmFormatForMulti->setCurrentIndex(window->cmbPcmFormatForMulti->findText("CD"));
    window->lbeKbmFile->setText(QString::fromStdString(env.Dir / "list.kbm"));
    window->btnStartMultiDecode->click();
    wav = testsupport::ReadWavWithSndfile(env.Dir / "tagged.wav");
    EXPECT_EQ(wav.Title, "Entry title");
    EXPECT_EQ(wav.Artist, "田中");
}

TEST_F(EndToEnd, AMissingSoundFontIsNamedUnderTheFailedOpen)
{
    plugintest::MidiTrack track;
    track.NoteOn(0, 0, 60).NoteOff(480, 0, 60).End(0);
    testsupport::WriteFileBytes(env.Dir / "a.mid", plugintest::MakeSmf(0, 480, {track}));
    {
        testsupport::ScopedEnvironment environment;
        environment.Set("PELLAN_SOUNDFONT", "/nonexistent/gm.sf2");
        Decode(env.Dir / "a.mid", env.Dir / "a.wav", "CD");
    }
    const auto lines = LogLines(*window);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()),
              (std::vector<std::string>{
                  "エラー: PCM パラメータが異常です",
                  "  理由: SoundFont /nonexistent/gm.sf2 がありません (No such file or directory)",
                  "警告: デコードは失敗しました"}));
}

TEST_F(EndToEnd, DamagedInputsFailOrEndEarlyWithoutHarm)
{
    const std::string flac = env.Dir / "whole.flac";
    ASSERT_TRUE(
        RunCommand("sox -R -n -r 44100 -c 2 -b 16 " + flac + " synth 4 sine 500 2>/dev/null"));
    const std::string whole = testsupport::ReadFileBytes(flac);
    testsupport::WriteFileBytes(env.Dir / "cut.flac", whole.substr(0, whole.size() / 2));
    Decode(env.Dir / "cut.flac", env.Dir / "cut.wav", "CD");
    EXPECT_EQ(LogLines(*window).back(), "デコードは完了しました");
    const auto cut = testsupport::ReadWavWithSndfile(env.Dir / "cut.wav");
    ASSERT_TRUE(cut.Ok);
    EXPECT_LT(cut.Frames, 4 * 44100);

    std::string noise(8192, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 2654435761u) >> 13);
    testsupport::WriteFileBytes(env.Dir / "noise.nsf", noise);
    Decode(env.Dir / "noise.nsf", env.Dir / "noise.wav", "CD");
    EXPECT_EQ(LogLines(*window).back(), "警告: デコードは失敗しました");
    EXPECT_FALSE(fs::exists(env.Dir / "noise.wav"));
}

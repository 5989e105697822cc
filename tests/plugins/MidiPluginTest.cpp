// midi.kpi through the host's plug-in classes, playing files the tests write with Debian's
// small General MIDI SoundFont: lengths from the tempo map, notes on time and in tune, the
// requested formats, the ring-out, the loop, seeking, the same bytes every run, damaged files,
// and the one SoundFont that every song shares.
#include "kpi/KPI.h"
#include "kpi/KpiSong.h"
#include "tests/plugins/MidiFiles.h"
#include "tests/plugins/PluginHarness.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"
#include "tests/support/WavReader.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

using namespace plugintest;
using testsupport::TempFolder;
using testsupport::WriteFileBytes;

namespace {

constexpr const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr uint32_t kFrame = 4; // 16-bit stereo
constexpr uint32_t kSecond = 44100 * kFrame;

// Keeps PELLAN_SOUNDFONT at a value for one test and puts it back afterwards.
struct SoundFontVariable : testsupport::ScopedEnvironment {
    explicit SoundFontVariable(const std::string& value) { Set("PELLAN_SOUNDFONT", value); }
};

// At 120 bpm and 480 ticks a quarter note, then 60 bpm from 1 s:
//   0.00-0.25 s  flute A4 (440 Hz) on channel 1
//   0.50 s       bass drum on channel 10
//   1.50-1.75 s  ocarina E5 (659 Hz) on channel 2, 1.25 s if the tempo change were lost
//   2.00 s       end of the song
std::string Tune(bool runningStatus = true)
{
    MidiTrack conductor;
    conductor.Sysex(0, "\x7E\x7F\x09\x01\xF7"); // General MIDI on
    conductor.Tempo(0, 500000).Tempo(960, 1000000).End(0);
    MidiTrack flute(runningStatus), drums(runningStatus), lead(runningStatus);
    flute.Program(0, 0, 73).NoteOn(0, 0, 69, 110).NoteOff(240, 0, 69).End(0);
    drums.NoteOn(480, 9, 36, 127).NoteOff(60, 9, 36).End(0);
    lead.Program(0, 1, 79).NoteOn(1200, 1, 76, 110).NoteOff(120, 1, 76).End(120);
    return MakeSmf(1, 480, {conductor, flute, drums, lead});
}

double Seconds(size_t frames)
{
    return double(frames) / 44100.0;
}

size_t At(double seconds)
{
    return static_cast<size_t>(seconds * 44100);
}

class MidiPlugin : public ::testing::Test {
protected:
    std::string Place(const std::string& name, const std::string& bytes)
    {
        WriteFileBytes(Dir / name, bytes);
        return Dir / name;
    }
    std::string Whole(const std::string& path, const SoundFormat& request = SoundFormat{})
    {
        TZoSong song(path, Kpi, request);
        EXPECT_NE(song.Handle, 0u) << path;
        song.Seek(0);
        const Rendered r = RenderSong(song, 60 * kSecond);
        EXPECT_TRUE(r.Ended);
        return r.Pcm;
    }

    SoundFontVariable Variable{kSoundFont};
    TempFolder Dir;
    TZoKpi Kpi{BuiltPlugin("midi.kpi")};
};

} // namespace

TEST(MidiPluginLibrary, IsUnloadedWithItsHostAfterPlayingAndPlaysAgainWhenReloaded)
{
    SoundFontVariable variable(kSoundFont);
    TempFolder dir;
    WriteFileBytes(dir / "tune.mid", Tune());
    const std::string path = BuiltPlugin("midi.kpi");
    for (int load = 0; load < 2; ++load) {
        {
            TZoKpi kpi(path);
            TZoSong song(dir / "tune.mid", kpi);
            ASSERT_NE(song.Handle, 0u);
            EXPECT_GT(Rms(Samples16(RenderSong(song, kSecond).Pcm), 2, 0, 0, 44100), 100);
        }
        EXPECT_FALSE(IsLoaded(path));
    }
}

TEST_F(MidiPlugin, ClaimsTheMidiExtensionsAndAllowsSeveralSongs)
{
    for (const char* ext : {"mid", "midi", "smf", "kar", "rmi"})
        EXPECT_TRUE(Kpi.HasExtension(ext)) << ext;
    EXPECT_FALSE(Kpi.HasExtension("wav"));
    EXPECT_NE(Kpi.Module().Reentrant, 0u);
}

TEST_F(MidiPlugin, SongHasItsTempoMapLengthAndPlaysItsChannelsOnTimeAndInTune)
{
    TZoSong song(Place("tune.mid", Tune()), Kpi);
    ASSERT_NE(song.Handle, 0u);
    EXPECT_EQ(song.Format.SampleRate, 44100u);
    EXPECT_EQ(song.Format.Channels, 2u);
    EXPECT_EQ(song.Format.BitsPerSample, 16u);
    EXPECT_EQ(song.Format.LengthMs, 2000u);
    EXPECT_EQ(song.Format.Endless, 0u);
    EXPECT_EQ(song.Format.MultiSong, 0u);
    EXPECT_EQ(song.Format.UnitRenderSize % kFrame, 0u);
    song.Seek(0);

    const Rendered r = RenderSong(song, 60 * kSecond);
    ASSERT_TRUE(r.Ended);
    EXPECT_EQ(r.BytesAfterEnd, 0u);
    const auto s = Samples16(r.Pcm);
    const size_t frames = s.size() / 2;
    EXPECT_GE(Seconds(frames), 2.0);
    EXPECT_LE(Seconds(frames), 2.0 + 5.1);

    EXPECT_NEAR(Frequency(s, 2, 0, At(0.05), At(0.22), 44100), 440, 4);
    EXPECT_GT(Rms(s, 2, 0, At(0.50), At(0.56)), 3 * Rms(s, 2, 0, At(0.42), At(0.49)));
    EXPECT_NEAR(Frequency(s, 2, 1, At(1.55), At(1.72), 44100), 659.3, 6);
    EXPECT_LT(Rms(s, 2, 1, At(1.20), At(1.48)), 0.2 * Rms(s, 2, 1, At(1.52), At(1.70)));
}

TEST_F(MidiPlugin, SameFileRendersTheSameBytesEveryTime)
{
    const std::string path = Place("tune.mid", Tune());
    const std::string first = Whole(path);
    EXPECT_TRUE(Whole(path) == first);
    // Also while another song plays through the same SoundFont, and after seeking back.
    TZoSong other(Place("other.mid", Tune(false)), Kpi);
    RenderSong(other, kSecond / 2);
    TZoSong again(path, Kpi);
    RenderSong(again, kSecond);
    again.Seek(0);
    EXPECT_TRUE(RenderSong(again, 60 * kSecond).Pcm == first);
}

TEST_F(MidiPlugin, RequestedFormatsAreRenderedAndOthersFallBackToTheDefault)
{
    const std::string path = Place("tune.mid", Tune());
    struct Case {
        uint32_t rate, channels, bits;
    };
    for (const Case& c :
         {Case{22050, 1, 24}, Case{48000, 2, 32}, Case{96000, 2, 16}, Case{8000, 1, 16}}) {
        SCOPED_TRACE(c.rate);
        TZoSong song(path, Kpi, SoundFormat{c.rate, c.channels, c.bits, 0, 0, 0, 0, 0});
        ASSERT_NE(song.Handle, 0u);
        EXPECT_EQ(song.Format.SampleRate, c.rate);
        EXPECT_EQ(song.Format.Channels, c.channels);
        EXPECT_EQ(song.Format.BitsPerSample, c.bits);
        EXPECT_EQ(song.Format.LengthMs, 2000u);
        EXPECT_EQ(song.Format.UnitRenderSize % (c.channels * c.bits / 8), 0u);
    }
    // The same samples at every depth, and mono the mean of the two sides.
    const auto samples = [&](uint32_t channels, uint32_t bits) {
        return testsupport::SamplesFromPcm(
            Whole(path, SoundFormat{48000, channels, bits, 0, 0, 0, 0, 0}), static_cast<int>(bits));
    };
    const auto s16 = samples(2, 16), s24 = samples(2, 24), s32 = samples(2, 32),
               mono = samples(1, 32);
    ASSERT_EQ(s16.size(), s32.size());
    ASSERT_EQ(s24.size(), s32.size());
    ASSERT_EQ(mono.size() * 2, s32.size());
    int64_t worst16 = 0, worst24 = 0, worstMono = 0;
    for (size_t i = 0; i < s32.size(); ++i) {
        worst16 = std::max<int64_t>(worst16, std::abs(int64_t(s16[i]) - s32[i]) >> 16);
        worst24 = std::max<int64_t>(worst24, std::abs(int64_t(s24[i]) - s32[i]) >> 8);
    }
    for (size_t i = 0; i < mono.size(); ++i)
        worstMono = std::max<int64_t>(
            worstMono, std::abs((int64_t(s32[2 * i]) + s32[2 * i + 1]) / 2 - mono[i]) >> 8);
    EXPECT_LE(worst16, 1);
    EXPECT_LE(worst24, 1);
    EXPECT_LE(worstMono, 1);

    TZoSong odd(path, Kpi, SoundFormat{0, 6, 8, 0, 0, 0, 0, 0});
    EXPECT_EQ(odd.Format.SampleRate, 44100u);
    EXPECT_EQ(odd.Format.Channels, 2u);
    EXPECT_EQ(odd.Format.BitsPerSample, 16u);
    // Rates FluidSynth cannot synthesize at are refused, not replaced.
    for (uint32_t rate : {4000u, 192000u}) {
        TZoSong refused(path, Kpi, SoundFormat{rate, 0, 0, 0, 0, 0, 0, 0});
        EXPECT_EQ(refused.Handle, 0u) << rate;
    }
}

TEST_F(MidiPlugin, SongRingsOutAfterItsLastEventAndEndsOnSilence)
{
    // Strings held to the very end: the release sounds on after it, then 100 ms of silence.
    MidiTrack strings;
    strings.Program(0, 0, 48).NoteOn(0, 0, 60, 120).NoteOff(480, 0, 60).End(0);
    const auto s = Samples16(Whole(Place("strings.mid", MakeSmf(0, 480, {strings}))));
    const size_t frames = s.size() / 2;
    EXPECT_GT(Seconds(frames), 0.5 + 0.2);
    EXPECT_LT(Seconds(frames), 0.5 + 5);
    const auto silent = [&](size_t from, size_t to) {
        return std::all_of(s.begin() + from * 2, s.begin() + to * 2,
                           [](int16_t v) { return v == 0; });
    };
    EXPECT_TRUE(silent(frames - At(0.1), frames));
    EXPECT_FALSE(silent(At(0.5), frames - At(0.1)));

    // An organ never released is cut 5 s after the last event.
    MidiTrack organ;
    organ.Program(0, 0, 16).NoteOn(0, 0, 60).End(480);
    const std::string held = Whole(Place("organ.mid", MakeSmf(0, 480, {organ})));
    EXPECT_EQ(held.size(), size_t(At(5.5)) * kFrame);
}

TEST_F(MidiPlugin, LoopMarkedSongIsEndlessAndRepeatsItsLoop)
{
    // Flute A4 as an intro, the loop marker at 0.5 s, an ocarina E5 until 0.9 s, the end at 1 s.
    MidiTrack track;
    track.Program(0, 0, 73).Program(0, 1, 79).NoteOn(0, 0, 69).NoteOff(384, 0, 69);
    track.Controller(96, 0, 111, 0).NoteOn(0, 1, 76).NoteOff(384, 1, 76).End(96);
    TZoSong song(Place("loop.mid", MakeSmf(0, 480, {track})), Kpi);
    ASSERT_NE(song.Handle, 0u);
    EXPECT_NE(song.Format.Endless, 0u);
    EXPECT_EQ(song.Format.LengthMs, KPI_NO_LENGTH);
    song.Seek(0);
    const Rendered r = RenderSong(song, 8 * kSecond);
    EXPECT_FALSE(r.Ended);
    const auto s = Samples16(r.Pcm);
    EXPECT_NEAR(Frequency(s, 2, 0, At(0.05), At(0.35), 44100), 440, 4);
    // From 0.5 s on the loop plays every half second, the intro never again.
    for (double start = 0.5; start < 7.5; start += 0.5) {
        SCOPED_TRACE(start);
        EXPECT_NEAR(Frequency(s, 2, 1, At(start + 0.05), At(start + 0.35), 44100), 659.3, 6);
    }
    // A second past its end is a second into the loop's repeats.
    song.Seek(3);
    const auto after = Samples16(RenderSong(song, kSecond).Pcm);
    EXPECT_NEAR(Frequency(after, 2, 1, At(0.05), At(0.35), 44100), 659.3, 6);
}

TEST_F(MidiPlugin, SeekGoesToTheAskedSecond)
{
    // A note a second, each a fifth above the one before: C4, G4, D5, A5.
    MidiTrack track;
    track.Program(0, 0, 79);
    for (int key : {60, 67, 74, 81})
        track.NoteOn(0, 0, key)
            .NoteOff(400, 0, key)
            .Raw(Vlq(560))
            .Raw(std::string("\xFF\x01\x00", 3));
    track.End(0);
    const std::string path = Place("steps.mid", MakeSmf(0, 480, {track}));
    const std::string whole = Whole(path);
    TZoSong song(path, Kpi);
    song.Seek(2);
    const auto s = Samples16(RenderSong(song, 60 * kSecond).Pcm);
    EXPECT_NEAR(Frequency(s, 2, 0, At(0.05), At(0.35), 44100), 587.3, 6);
    EXPECT_NEAR(Frequency(s, 2, 0, At(1.05), At(1.35), 44100), 880, 8);
    // The same end, give or take how the release rings without the notes before the seek.
    EXPECT_NEAR(Seconds(s.size() / 2) + 2, Seconds(whole.size() / kFrame), 0.05);

    song.Seek(9);
    const Rendered beyond = RenderSong(song, 60 * kSecond);
    EXPECT_TRUE(beyond.Ended);
    EXPECT_TRUE(beyond.Pcm.empty());
}

TEST_F(MidiPlugin, DamagedFilesFailTheOpenWithoutHarm)
{
    // The reader's own test goes through every kind of damage; here the open fails cleanly.
    const std::string good = Tune();
    std::string format2 = good;
    format2[9] = 2;
    // Each with its reason: where the reader stopped, or why it is no file it plays.
    const std::string files[][3] = {
        {"empty.mid", "", "ファイル " + Dir / "empty.mid" + " は空です"},
        {"cut.mid", good.substr(0, good.size() - 7),
         "ファイルが壊れています (track 4 runs past the end of the file)"},
        {"format2.mid", format2, "対応していない形式です (format 2 is not played)"},
        {"noise.rmi", "RIFF" + std::string(4000, '\x55'),
         "対応していない形式です (not a RIFF RMID file)"}};
    for (const auto& [name, bytes, why] : files) {
        TZoSong song(Place(name, bytes), Kpi);
        EXPECT_EQ(song.Handle, 0u) << name;
        EXPECT_EQ(song.Format.SampleRate * song.Format.Channels * song.Format.BitsPerSample, 0u);
        EXPECT_EQ(song.OpenFailure, why);
    }
    TZoSong missing(Dir / "missing.mid", Kpi);
    EXPECT_EQ(missing.Handle, 0u);
    EXPECT_EQ(missing.OpenFailure,
              "ファイル " + Dir / "missing.mid" + " を読み込めません (No such file or directory)");
    TZoSong song(Place("good.mid", good), Kpi);
    EXPECT_NE(song.Handle, 0u);
}

TEST_F(MidiPlugin, RmidWrapperPlaysAsTheBareFile)
{
    EXPECT_TRUE(Whole(Place("tune.rmi", WrapInRmid(Tune()))) == Whole(Place("tune.mid", Tune())));
}

TEST_F(MidiPlugin, SoundFontNamedByTheVariableIsTheOneUsed)
{
    const std::string tune = Place("tune.mid", Tune());
    const std::string reference = Whole(tune);
    std::filesystem::copy_file(kSoundFont, Dir / "copy.sf2");
    {
        SoundFontVariable variable(Dir / "copy.sf2");
        EXPECT_TRUE(Whole(tune) == reference);
    }
    // A SoundFont that cannot be used fails the open and is named in its reason; a pipe is
    // never read, which would wait for ever.
    std::filesystem::create_directory(Dir / "folder.sf2");
    ASSERT_EQ(::mkfifo((Dir / "pipe.sf2").c_str(), 0600), 0);
    std::string broken(4096, '\x55');
    broken.replace(0, 12, std::string("RIFF\xF8\x0F\0\0sfbk", 12));
    const std::pair<std::string, std::string> bad[] = {
        {Dir / "none.sf2", " がありません (No such file or directory)"},
        {Dir / "folder.sf2", " はフォルダです"},
        {Dir / "pipe.sf2", " は通常のファイルではありません"},
        {Place("fake.sf2", "RIFF not a SoundFont"), " は SoundFont の形式ではありません"},
        {Place("broken.sf2", broken), " を FluidSynth が読み込めませんでした"}};
    for (const auto& [path, why] : bad) {
        SoundFontVariable variable(path);
        TZoSong song(tune, Kpi);
        EXPECT_EQ(song.Handle, 0u) << path;
        EXPECT_EQ(song.OpenFailure, "SoundFont " + path + why);
    }
}

TEST_F(MidiPlugin, TheSequenceNameAndCopyrightAreTheSongsInformation)
{
    const auto meta = [](uint8_t type, const std::string& text) {
        return Vlq(0) + "\xFF" + char(type) + Vlq(static_cast<uint32_t>(text.size())) + text;
    };
    // In Shift_JIS, as Japanese sequencers write them: "曲名".
    MidiTrack conductor;
    conductor.Raw(meta(0x02, "(C) 1995 Quenz") + meta(0x03, "\x8B\xC8\x96\xBC")).End(0);
    MidiTrack notes;
    notes.Raw(meta(0x03, "Piano")).NoteOn(0, 0, 60).NoteOff(480, 0, 60).End(0);
    TZoSong song(Place("named.mid", MakeSmf(1, 480, {conductor, notes})), Kpi);
    ASSERT_NE(song.Handle, 0u);
    TZoSongInfo info = song.Info();
    EXPECT_EQ(info.Title, "曲名");
    EXPECT_EQ(info.Copyright, "(C) 1995 Quenz");
    EXPECT_EQ(info.Artist, "");

    // No name in the first track: the first name of another.
    MidiTrack plain;
    plain.Tempo(0, 500000).End(0);
    TZoSong second(Place("second.mid", MakeSmf(1, 480, {plain, notes})), Kpi);
    EXPECT_EQ(second.Info().Title, "Piano");
    EXPECT_EQ(second.Info().Copyright, "");
}

TEST_F(MidiPlugin, SoundFontIsReadOnceForAPlaylistOfSongs)
{
    const std::string tune = Place("tune.mid", Tune());
    std::filesystem::copy_file(kSoundFont, Dir / "watched.sf2");
    SoundFontVariable variable(Dir / "watched.sf2");
    const int watch = ::inotify_init1(IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, (Dir / "watched.sf2").c_str(), IN_OPEN), 0);
    const auto opens = [&] {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;)
            for (char* p = buffer; p < buffer + n;
                 p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len)
                ++count;
        return count;
    };
    const auto play = [&] {
        TZoSong song(tune, Kpi);
        EXPECT_NE(song.Handle, 0u);
        song.Seek(0);
        RenderSong(song, kSecond / 4);
    };
    play();
    const int first = opens();
    EXPECT_GE(first, 1);
    for (int entry = 1; entry < 50; ++entry)
        play();
    EXPECT_EQ(opens(), 0);
    ::close(watch);
}

TEST_F(MidiPlugin, PlayingStartsNoThreads)
{
    const auto threads = [] {
        int count = 0;
        DIR* dir = ::opendir("/proc/self/task");
        while (const dirent* entry = ::readdir(dir))
            count += entry->d_name[0] != '.';
        ::closedir(dir);
        return count;
    };
    // This test program runs no thread of its own but the main one, and FluidSynth's idle
    // helpers would outlive the test that started them.
    TZoSong song(Place("tune.mid", Tune()), Kpi);
    ASSERT_NE(song.Handle, 0u);
    song.Seek(0);
    RenderSong(song, 60 * kSecond);
    EXPECT_EQ(threads(), 1);
}

TEST_F(MidiPlugin, SongsPlayingAtOnceOnTwoThreadsSoundAsAlone)
{
    const std::string a = Place("a.mid", Tune()), b = Place("b.rmi", WrapInRmid(Tune(false)));
    const std::string aloneA = Whole(a),
                      aloneB = Whole(b, SoundFormat{22050, 1, 24, 0, 0, 0, 0, 0});
    TZoSong songA(a, Kpi), songB(b, Kpi, SoundFormat{22050, 1, 24, 0, 0, 0, 0, 0});
    songA.Seek(0);
    songB.Seek(0);
    std::string pcmA, pcmB;
    std::thread threadA([&] { pcmA = RenderSong(songA, 60 * kSecond, 1000).Pcm; });
    std::thread threadB([&] { pcmB = RenderSong(songB, 60 * kSecond, 333).Pcm; });
    threadA.join();
    threadB.join();
    EXPECT_TRUE(pcmA == aloneA);
    EXPECT_TRUE(pcmB == aloneB);
}

TEST_F(MidiPlugin, RealGameMusicFromDebianOpensWithTheLengthOfItsTempoMap)
{
    const std::string folder = "/usr/share/planetblupi/music";
    ASSERT_TRUE(std::filesystem::exists(folder))
        << "the test needs Debian's planetblupi-music-midi package (scripts/install-deps.sh)";
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        SCOPED_TRACE(entry.path().string());
        TZoSong song(entry.path().string(), Kpi);
        ASSERT_NE(song.Handle, 0u);
        EXPECT_EQ(song.Format.Endless, 0u);
        EXPECT_GT(song.Format.LengthMs, 60000u);
        song.Seek(60);
        const auto s = Samples16(RenderSong(song, 2 * kSecond).Pcm);
        EXPECT_GT(Rms(s, 2, 0, 0, s.size() / 2), 100);
        ++files;
    }
    EXPECT_EQ(files, 10);
    // 287971 ticks of 120 a quarter note at 120 bpm, read off the file by hand.
    TZoSong song(folder + "/music003.mid", Kpi);
    EXPECT_EQ(song.Format.LengthMs, 1199879u);
}

// A playlist of MIDI files through the window's playlist tab and through pellan-decode, with
// midi.kpi and the SoundFont that Debian installs: every song converted, the looping one faded
// out at the setting's length, the damaged one refused, and both programs writing the same
// bytes.
#include "tests/plugins/MidiFiles.h"
#include "tests/plugins/PluginHarness.h"
#include "tests/support/WavReader.h"
#include "tests/ui/WindowFixture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <sys/wait.h>

#include <algorithm>
#include <filesystem>

using namespace plugintest;
namespace fs = std::filesystem;

namespace {

// A tune on three channels; with a loop marker at 1 s its second second repeats for ever.
std::string Tune(bool loops)
{
    MidiTrack conductor;
    conductor.Tempo(0, 500000).Tempo(960, 400000).End(0);
    MidiTrack melody(true);
    melody.Program(0, 0, 73).Program(0, 1, 48);
    for (int key : {60, 64, 67, 72})
        melody.NoteOn(0, 0, key)
            .NoteOn(0, 1, key - 12)
            .NoteOff(240, 0, key)
            .NoteOff(0, 1, key - 12);
    if (loops)
        melody.Controller(0, 0, 111, 0);
    for (int key : {71, 67, 64, 62})
        melody.NoteOn(0, 0, key).NoteOn(0, 9, 38).NoteOff(240, 0, key).NoteOff(0, 9, 38);
    melody.End(0);
    return MakeSmf(1, 480, {conductor, melody});
}

double Seconds(const testsupport::ReadBackWav& wav)
{
    return double(wav.Frames) / wav.Rate;
}

struct MidiEndToEnd : uitest::WindowFixture {};

} // namespace

TEST_F(MidiEndToEnd, PlaylistConvertsInTheWindowAndInPellanDecodeAlike)
{
    std::string list = "KbMIDI Player Play List\r\n";
    const auto add = [&](const std::string& name, const std::string& bytes) {
        testsupport::WriteFileBytes(env.Dir / name, bytes);
        list += "0=" + (env.Dir / name) + "\r\n2=" + name + "\r\n-\r\n";
    };
    add("plain.mid", Tune(false));
    MidiTrack single(true);
    single.Program(0, 0, 19)
        .NoteOn(0, 0, 57)
        .NoteOn(0, 0, 64)
        .NoteOff(1440, 0, 57)
        .NoteOff(0, 0, 64);
    add("single.midi", MakeSmf(0, 480, {single.End(0)}));
    add("wrapped.rmi", WrapInRmid(Tune(false)));
    add("loop.mid", Tune(true));
    const std::string damaged = Tune(false);
    add("damaged.mid", damaged.substr(0, damaged.size() - 9)); // last, as a failure ends the run
    testsupport::WriteFileBytes(env.Dir / "list.kbm", list);
    const std::vector<std::string> outputs = {"plain.wav", "single.wav", "wrapped.wav", "loop.wav"};

    // Songs without an end are faded out after 10 s over 1 s.
    UsePluginFolder(PELLAN_PLUGIN_OUTPUT_DIR);
    StoreSetting("10 s", 0, 0, 0, 10, 1000);
    auto window = Open();
    window->lstLog->clear();
    window->cmbPcmFormatForMulti->setCurrentIndex(window->cmbPcmFormatForMulti->findText("10 s"));
    window->lbeKbmFile->setText(QString::fromStdString(env.Dir / "list.kbm"));
    window->btnStartMultiDecode->click();
    const auto lines = uitest::LogLines(*window);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "  プラグイン midi.kpi を使用します"), 5);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "デコードは完了しました"), 4);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "警告: デコードは失敗しました"), 1);
    EXPECT_EQ(lines.back(), "一括デコードが完了しました。");
    EXPECT_FALSE(fs::exists(env.Dir / "damaged.wav"));

    std::vector<std::string> fromWindow;
    for (const std::string& name : outputs) {
        SCOPED_TRACE(name);
        const auto wav = testsupport::ReadWavWithSndfile(env.Dir / name);
        ASSERT_TRUE(wav.Ok) << wav.Error;
        EXPECT_EQ(wav.Rate, 44100);
        EXPECT_EQ(wav.Channels, 2);
        EXPECT_EQ(wav.Title.substr(0, wav.Title.find('.')), name.substr(0, name.find('.')));
        const auto loudest =
            std::max_element(wav.Samples.begin(), wav.Samples.end(),
                             [](int32_t a, int32_t b) { return std::abs(a) < std::abs(b); });
        EXPECT_GT(std::abs(*loudest), 1 << 25) << "no music in " << name;
        fromWindow.push_back(testsupport::ReadFileBytes(env.Dir / name));
        fs::rename(env.Dir / name, env.Dir / (name + ".window"));
    }
    // 8 quarter notes at 120 bpm then 150 bpm, and the release after them; the loop faded.
    const auto plain = testsupport::ReadWavWithSndfile(env.Dir / "plain.wav.window");
    EXPECT_GT(Seconds(plain), 1.8);
    EXPECT_LT(Seconds(plain), 1.8 + 5.1);
    const auto loop = testsupport::ReadWavWithSndfile(env.Dir / "loop.wav.window");
    EXPECT_NEAR(Seconds(loop), 11.0, 0.1);

    // pellan-decode with the same setting given on its command line.
    const std::string home = env.Dir / "home";
    fs::create_directories(home);
    const std::string command =
        "HOME=" + home + " XDG_CONFIG_HOME=" + home + "/.config " + PELLAN_DECODE_PROGRAM +
        " --quiet --plugins " + PELLAN_PLUGIN_OUTPUT_DIR +
        " --rate 0 --bits default --channels 0 --length 10 --fade 1000" + " --playlist " +
        (env.Dir / "list.kbm") + " 2>" + (env.Dir / "stderr");
    EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 1); // the damaged file failed
    for (size_t i = 0; i < outputs.size(); ++i)
        EXPECT_TRUE(testsupport::ReadFileBytes(env.Dir / outputs[i]) == fromWindow[i])
            << outputs[i];
    EXPECT_NE(testsupport::ReadFileBytes(env.Dir / "stderr").find("警告: デコードは失敗しました"),
              std::string::npos);
}

// Single-file decoding through the window's controls: a whole decode, the fade-out cases,
// song numbers, every start failure with its lines, a stop, and closing while a decode runs.
#include "app/SongDecoding.h"
#include "tests/support/WavReader.h"
#include "tests/ui/WindowFixture.h"

#include "ui/ProgressBar.h"
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>

using testkpi::TestSong;
using uitest::LogLines;
namespace fs = std::filesystem;

namespace {

struct SingleDecodeFixture : uitest::WindowFixture {
    testkpi::TestPlugin* plugin = nullptr;
    std::unique_ptr<TfrmMain> window;

    void SetUp() override
    {
        plugin = &AddPlugin("test.kpi");
        UsePluginFolder(pluginFolder);
    }
    void OpenWindow()
    {
        window = Open();
        window->lstLog->clear(); // the start-up lines are not what these tests look at
    }
    std::string Song(const TestSong& song, const std::string& name = "song.tst")
    {
        song.WriteTo(env.Dir / name);
        return env.Dir / name;
    }
    void Choose(const std::string& source, const std::string& output,
                const std::string& setting = "CD")
    {
        window->lbeSourceFile->setText(QString::fromStdString(source));
        window->lbePCMFile->setText(QString::fromStdString(output));
        window->cmbPCMFormat->setCurrentIndex(
            window->cmbPCMFormat->findText(QString::fromStdString(setting)));
    }
    // Clicks start and waits for the end of the decode.
    void Decode()
    {
        window->btnSingleDecode->click();
        ASSERT_TRUE(uitest::WaitUntil([&] {
            return !LogLines(*window).empty() &&
                   (LogLines(*window).back() == "デコードは完了しました" ||
                    LogLines(*window).back() == "警告: デコードは失敗しました");
        }));
    }
    std::vector<std::string> StartLines(const std::string& source, const std::string& format)
    {
        return {"ファイル " + source + " のデコードを開始します",
                "  プラグイン test.kpi を使用します", format};
    }
};

std::string Bytes(const std::vector<uint8_t>& v)
{
    return std::string(v.begin(), v.end());
}

} // namespace

TEST_F(SingleDecodeFixture, WholeDecodeWritesAWavThatAnotherReaderAccepts)
{
    OpenWindow();
    EXPECT_EQ(window->lblProgress->text(), "--:--.--- / --:--.---");
    TestSong d;
    d.Length = "1500";
    d.Frames = "66150";
    const std::string source = Song(d);
    Choose(source, env.Dir / "out.wav");
    Decode();
    std::vector<std::string> expected = StartLines(source, "  44100Hz, 16 ビット, 2 チャンネル");
    expected.push_back("デコードは完了しました");
    EXPECT_EQ(LogLines(*window), expected);
    const auto& runLog = RunLog->Lines();
    EXPECT_EQ(std::vector<std::string>(runLog.end() - 4, runLog.end()), expected);

    const auto wav = testsupport::ReadWavWithSndfile(env.Dir / "out.wav");
    ASSERT_TRUE(wav.Ok) << wav.Error;
    EXPECT_EQ(wav.Frames, 66150);
    const std::string file = testsupport::ReadFileBytes(env.Dir / "out.wav");
    EXPECT_TRUE(file.substr(46) == Bytes(testkpi::ExpectedPcm(d, 0, 0, 66150 * 4)));
    EXPECT_EQ(file.find("LIST"), std::string::npos); // no tags from this tab

    // Known length, not endless: no fade, and the bar measured against the song's length.
    EXPECT_EQ(window->pbrDecodeProgress->maximum(), 1500);
    EXPECT_EQ(window->pbrDecodeProgress->value(), 0);
    EXPECT_EQ(window->lblProgress->text(), "00:01.500 / 00:01.500");
    EXPECT_EQ(window->btnSingleDecode->text(), "開始(&S)");
    EXPECT_TRUE(window->btnStartMultiDecode->isEnabled());
    EXPECT_EQ(plugin->Counts().Close, 1);
}

TEST_F(SingleDecodeFixture, SongWithoutLengthFadesAtTheSettingsDefaultLength)
{
    StoreSetting("short", 44100, 16, 2, 10, 1000);
    OpenWindow();
    TestSong d;
    d.Length = "none";
    d.Frames = "inf";
    d.Pattern = "const";
    d.Value = 1000;
    Choose(Song(d), env.Dir / "fade.wav", "short");
    uint32_t barMaximum = 0;
    window->btnSingleDecode->click();
    barMaximum = static_cast<uint32_t>(window->pbrDecodeProgress->maximum());
    ASSERT_TRUE(
        uitest::WaitUntil([&] { return LogLines(*window).back() == "デコードは完了しました"; }));
    EXPECT_EQ(barMaximum, 11000u);

    // The fade begins with the first 8192-byte block whose end reaches 10 s and lasts until
    // the gain of a 1000 ms fade is used up.
    const uint64_t blockFrames = 8192 / 4;
    uint64_t block = 1;
    while (block * 8192 * 1000 / 176400 < 10000)
        ++block;
    const uint64_t fadeStartFrame = (block - 1) * blockFrames;
    const uint32_t step = 0xFFFFFFFFu / 44100;
    const uint64_t fadeFrames = (0xFFFFFFFFull + step - 1) / step;
    const auto wav = testsupport::ReadWavWithSndfile(env.Dir / "fade.wav");
    ASSERT_TRUE(wav.Ok);
    EXPECT_EQ(static_cast<uint64_t>(wav.Frames), fadeStartFrame + fadeFrames);
    EXPECT_EQ(wav.Samples[2 * fadeStartFrame - 2], 1000 << 16); // before the fade: untouched
    EXPECT_EQ(wav.Samples[2 * fadeStartFrame], 999 << 16);      // its first frame
    EXPECT_LT(wav.Samples.back(), 10 << 16);
}

TEST_F(SingleDecodeFixture, EndlessSongOfKnownLengthFadesFromItsLengthWhileTheBarKeepsIt)
{
    StoreSetting("short", 44100, 16, 2, 10, 500);
    OpenWindow();
    TestSong d;
    d.Length = "2000";
    d.Endless = true;
    d.Frames = "inf";
    Choose(Song(d), env.Dir / "endless.wav", "short");
    Decode();
    EXPECT_EQ(window->pbrDecodeProgress->maximum(), 2000);
    const auto wav = testsupport::ReadWavWithSndfile(env.Dir / "endless.wav");
    ASSERT_TRUE(wav.Ok);
    EXPECT_NEAR(static_cast<double>(wav.Frames) / 44100.0, 2.5, 0.05);
    // The total stays at the song's length while the position passes it.
    EXPECT_EQ(window->lblProgress->text().right(9), "00:02.000");
    EXPECT_TRUE(window->lblProgress->text().startsWith("00:02.5"));
}

TEST_F(SingleDecodeFixture, MultiSongFileDecodesTheChosenSongWithAFade)
{
    StoreSetting("short", 44100, 16, 2, 10, 200);
    OpenWindow();
    TestSong d;
    d.Songs = 3;
    d.Frames = "inf";
    const std::string source = Song(d);
    Choose(source, env.Dir / "two.wav", "short");
    window->speSongNum->setValue(2);
    Decode();
    const auto calls = plugin->SetPositionCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].PositionMs, 0u);
    EXPECT_EQ(calls[1].PositionMs, 2000u);
    EXPECT_EQ(window->pbrDecodeProgress->maximum(), 10200);
    const std::string file = testsupport::ReadFileBytes(env.Dir / "two.wav");
    EXPECT_TRUE(file.substr(46, 4096) == Bytes(testkpi::ExpectedPcm(d, 2, 0, 4096)));
    EXPECT_NEAR(static_cast<double>(file.size() - 46) / 176400.0, 10.2, 0.1);

    // Song 4 of 3: the three start lines, the error and the failure; no file.
    window->lstLog->clear();
    window->speSongNum->setValue(4);
    Choose(source, env.Dir / "four.wav", "short");
    Decode();
    std::vector<std::string> expected = StartLines(source, "  44100Hz, 16 ビット, 2 チャンネル");
    expected.push_back("エラー: 曲番号 4 は範囲外です");
    expected.push_back("警告: デコードは失敗しました");
    EXPECT_EQ(LogLines(*window), expected);
    EXPECT_FALSE(fs::exists(env.Dir / "four.wav"));
    EXPECT_EQ(plugin->Counts().OpenNow, 0); // the song was released
}

TEST_F(SingleDecodeFixture, SongNumberIsIgnoredForAnOrdinaryFile)
{
    OpenWindow();
    TestSong d;
    d.Length = "100";
    d.Frames = "4410";
    Choose(Song(d), env.Dir / "plain.wav");
    window->speSongNum->setValue(255);
    Decode();
    EXPECT_EQ(LogLines(*window).back(), "デコードは完了しました");
    EXPECT_EQ(plugin->SetPositionCalls().size(), 1u); // only the one after the open
}

TEST_F(SingleDecodeFixture, EachStartFailureLogsItsLinesAndLeavesNoFile)
{
    OpenWindow();
    struct Case {
        std::string name;
        std::string source;
        std::string output;
        std::vector<std::string> lines;
    };
    TestSong zero;
    zero.OpenMode = "zero";
    TestSong keeps;
    keeps.OpenMode = "fail_keep";
    const std::string zeroSource = Song(zero, "zero.tst");
    const std::string keepSource = Song(keeps, "keep.tst");
    const std::string goodSource = Song(TestSong{}, "good.tst");
    const std::string format = "  44100Hz, 16 ビット, 2 チャンネル";
    const auto with = [&](const std::string& source, const std::string& fmt,
                          std::vector<std::string> tail) {
        std::vector<std::string> lines = StartLines(source, fmt);
        lines.insert(lines.end(), tail.begin(), tail.end());
        lines.push_back("警告: デコードは失敗しました");
        return lines;
    };
    const std::vector<Case> cases = {
        {"no plug-in",
         env.Dir / "song.xyz",
         env.Dir / "a.wav",
         {"エラー: ファイル " + (env.Dir / "song.xyz") +
              " に適したプラグインが見つかりませんでした",
          "警告: デコードは失敗しました"}},
        {"zero format", zeroSource, env.Dir / "b.wav",
         with(zeroSource, "  0Hz, 0 ビット, 0 チャンネル", {"エラー: PCM パラメータが異常です"})},
        {"claimed but not opened", keepSource, env.Dir / "c.wav",
         with(keepSource, format, {"エラー: ファイル " + keepSource + " を開けませんでした"})},
        // Said of the file, with the system's reason, before a plug-in is asked.
        {"mistyped path",
         env.Dir / "typo.tst",
         env.Dir / "d.wav",
         {"エラー: ファイル " + (env.Dir / "typo.tst") +
              " を開けませんでした (No such file or directory)",
          "警告: デコードは失敗しました"}},
        {"missing folder", goodSource, env.Dir / "none/e.wav",
         with(goodSource, format,
              {"エラー: Wav ファイル " + (env.Dir / "none/e.wav") + " を作成できませんでした"})},
        {"empty output", goodSource, "",
         with(goodSource, format, {"エラー: Wav ファイル  を作成できませんでした"})},
        {"output is the source", goodSource, goodSource,
         with(goodSource, format, {"エラー: 出力先 " + goodSource + " は入力ファイルと同じです"})},
    };
    const std::string goodBytes = testsupport::ReadFileBytes(goodSource);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        window->lstLog->clear();
        Choose(c.source, c.output);
        Decode();
        EXPECT_EQ(LogLines(*window), c.lines);
        if (!c.output.empty() && c.output != goodSource) {
            EXPECT_FALSE(fs::exists(c.output));
        }
        EXPECT_EQ(window->btnSingleDecode->text(), "開始(&S)");
        EXPECT_TRUE(window->btnStartMultiDecode->isEnabled());
        EXPECT_EQ(plugin->Counts().OpenNow, 0);
    }
    EXPECT_EQ(testsupport::ReadFileBytes(goodSource), goodBytes); // never truncated

    // Another name of the source file is the source file too.
    fs::create_hard_link(goodSource, env.Dir / "alias.wav");
    window->lstLog->clear();
    Choose(goodSource, env.Dir / "alias.wav");
    Decode();
    EXPECT_EQ(LogLines(*window)[3],
              "エラー: 出力先 " + (env.Dir / "alias.wav") + " は入力ファイルと同じです");
    EXPECT_EQ(testsupport::ReadFileBytes(goodSource), goodBytes);
}

TEST_F(SingleDecodeFixture, DefaultBitsAskTheRequestForNothingAndLogTheAnswer)
{
    OpenWindow();
    TestSong d;
    d.Bits = 24;
    d.Rate = 0;
    d.Channels = 0;
    d.Length = "50";
    d.Frames = "100";
    Choose(Song(d), env.Dir / "default.wav", "プラグインのデフォルト");
    Decode();
    const SoundFormat request = plugin->LastRequest();
    EXPECT_EQ(request.SampleRate + request.BitsPerSample + request.Channels, 0u);
    EXPECT_EQ(LogLines(*window)[2], "  44100Hz, 24 ビット, 2 チャンネル");
}

TEST_F(SingleDecodeFixture, StoredNumbersOutOfRangeAreReportedAndNoSettingAtAllFailsTheStart)
{
    // Another program stored -1 channels: the start-up says so once, and the setting asks for
    // the built-in 2 instead.
    StoreSetting("bad", 44100, 16, -1, 10, 100);
    window = Open();
    const auto startLines = LogLines(*window);
    EXPECT_EQ(std::count(startLines.begin(), startLines.end(),
                         "警告: デコード設定 bad のチャンネル数 4294967295 は範囲外です "
                         "(0～10)。既定値 2 を使います"),
              1);
    window->lstLog->clear();
    Choose(Song(TestSong{}), env.Dir / "x.wav", "bad");
    Decode();
    EXPECT_EQ(LogLines(*window).back(), "デコードは完了しました");
    EXPECT_EQ(plugin->LastRequest().Channels, 2u);

    window->lvwDecodeSettings->clear();
    window->FillPcmFormatLists();
    window->lstLog->clear();
    Decode();
    EXPECT_EQ(LogLines(*window), (std::vector<std::string>{"エラー: デコード設定がありません",
                                                           "警告: デコードは失敗しました"}));
    EXPECT_TRUE(dialogs.Errors.empty());
}

TEST_F(SingleDecodeFixture, StopLogsTheWarningsThenTheEndAndDeletesTheFile)
{
    OpenWindow();
    TestSong d;
    d.Length = "none";
    d.Frames = "inf";
    d.DelayMs = 2;
    Choose(Song(d), env.Dir / "stop.wav");
    window->btnSingleDecode->click();
    EXPECT_EQ(window->btnSingleDecode->text(), "中止(&A)");
    EXPECT_FALSE(window->btnStartMultiDecode->isEnabled());
    ASSERT_TRUE(uitest::WaitUntil([&] { return plugin->Counts().Render > 3; }));
    window->btnSingleDecode->click();
    EXPECT_EQ(window->btnSingleDecode->text(), "開始(&S)");
    // No new start until the stopped thread has ended.
    EXPECT_FALSE(window->btnSingleDecode->isEnabled());
    ASSERT_TRUE(
        uitest::WaitUntil([&] { return LogLines(*window).back() == "デコードは完了しました"; }));
    const auto lines = LogLines(*window);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[3], "  警告: デコードはユーザの指示により中止されました");
    EXPECT_EQ(lines[4], "  警告: ファイルは削除されました");
    ASSERT_TRUE(uitest::WaitUntil([&] { return plugin->Counts().OpenNow == 0; }));
    EXPECT_FALSE(fs::exists(env.Dir / "stop.wav"));
    EXPECT_TRUE(window->btnSingleDecode->isEnabled());
    EXPECT_TRUE(window->btnStartMultiDecode->isEnabled());
    EXPECT_EQ(window->pbrDecodeProgress->value(), 0);
}

TEST_F(SingleDecodeFixture, RunEndedByAnErrorIsReportedAndKeepsWhatWasWritten)
{
    StoreSetting("short", 8000, 8, 1, 10, 100);
    OpenWindow();
    TestSong d;
    d.Rate = 8000;
    d.Bits = 8; // a depth the fade-out cannot take
    d.Channels = 1;
    d.Length = "none";
    d.Frames = "inf";
    Choose(Song(d), env.Dir / "eight.wav", "short");
    Decode();
    const auto lines = LogLines(*window);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "エラー: Unexpected sample bit-depth");
    const auto wav = testsupport::ReadWavWithSndfile(env.Dir / "eight.wav");
    ASSERT_TRUE(wav.Ok);
    EXPECT_GT(wav.Frames, 9 * 8000);
    EXPECT_LT(wav.Frames, 10 * 8000);
}

TEST_F(SingleDecodeFixture, ClosingTheWindowStopsTheDecodeBeforeThePluginGoes)
{
    OpenWindow();
    TestSong d;
    d.Length = "none";
    d.Frames = "inf";
    d.DelayMs = 2;
    Choose(Song(d), env.Dir / "closing.wav");
    window->btnSingleDecode->click();
    ASSERT_TRUE(uitest::WaitUntil([&] { return plugin->Counts().Render > 3; }));
    window->close();
    window.reset();
    EXPECT_EQ(plugin->Counts().Close, 1);
    EXPECT_EQ(plugin->Counts().Deinit, 1);
    EXPECT_FALSE(fs::exists(env.Dir / "closing.wav"));
    EXPECT_EQ(RunLog->Lines().back(), "デコードは完了しました");
}

TEST(PlayTime, MinutesSecondsAndMilliseconds)
{
    EXPECT_EQ(FormatPlayTime(0), "00:00.000");
    EXPECT_EQ(FormatPlayTime(83456), "01:23.456");
    EXPECT_EQ(FormatPlayTime(125000), "02:05.000");
    EXPECT_EQ(FormatPlayTime(6000000), "100:00.000");
    EXPECT_EQ(FormatPlayTime(0xFFFFFFFFu), "71582:47.295");
}

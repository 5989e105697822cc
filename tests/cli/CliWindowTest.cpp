// pellan-decode and the window side by side: one file converted with the same setting comes
// out with the same bytes from both. The only case of the command line that needs the window.
#include "app/KbMD_Common.h"
#include "qtcore/QtSettingsStore.h"
#include "tests/support/CliFixture.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/MainWnd.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

using testkpi::TestSong;

namespace {

struct CliFixture : testsupport::CliFixture {
    uitest::AppEnvironment app;
    uitest::ScriptedDialogs dialogs;

    // The file decoded through the window's single-file tab with a setting stored as an earlier
    // run of the window would have left it.
    std::string DecodeInWindow(const std::string& source, const std::string& output,
                               const std::string& setting, int rate, int bits, int channels,
                               int lengthS, int fadeMs)
    {
        const std::string key = "DecodeSettings\\" + setting;
        app.Store->WriteInteger(key, "SamplingFrequency", rate);
        app.Store->WriteInteger(key, "BitsPerSample", bits);
        app.Store->WriteInteger(key, "Channels", channels);
        app.Store->WriteInteger(key, "DefaultLength", lengthS);
        app.Store->WriteInteger(key, "FadeoutLength", fadeMs);
        app.Store->WriteString("SearchPath", "Plugins", pluginFolder);
        app.Restart();
        TfrmMain::Places places;
        places.CacheFolder = app.Dir.Path();
        places.BundledPluginFolder = "";
        TfrmMain window(dialogs, places);
        window.lbeSourceFile->setText(QString::fromStdString(source));
        window.lbePCMFile->setText(QString::fromStdString(output));
        window.cmbPCMFormat->setCurrentIndex(
            window.cmbPCMFormat->findText(QString::fromStdString(setting)));
        window.btnSingleDecode->click();
        EXPECT_TRUE(uitest::WaitUntil(
            [&] { return uitest::LogLines(window).back() == "デコードは完了しました"; }));
        return testsupport::ReadFileBytes(output);
    }
};

} // namespace

TEST_F(CliFixture, OneFileComesOutWithTheWindowsBytes)
{
    TestSong endless;
    endless.Length = "none";
    endless.Frames = "inf";
    const std::string source = Song("song.tst", endless);
    const auto result = Run({"--plugins", pluginFolder, "--setting", "cd", "--length", "10",
                             "--fade", "300", source, dir / "cli.wav"});
    EXPECT_EQ(result.Status, 0) << result.Err;
    std::vector<std::string> expected = StartLines();
    for (const auto& line : EntryLines(source))
        expected.push_back(line);
    EXPECT_EQ(result.ErrLines(), expected);
    EXPECT_TRUE(result.Out.empty());

    // The window with the same setting: CD with a 10 s default length and a 300 ms fade.
    const std::string window =
        DecodeInWindow(source, dir / "window.wav", "CD", 44100, 16, 2, 10, 300);
    EXPECT_TRUE(testsupport::ReadFileBytes(dir / "cli.wav") == window);
    EXPECT_GT(window.size(), 46u + 10u * 176400u);
}

// The window with plug-ins in host processes: the native host (PELLAN_ISOLATE_PLUGINS=1) and,
// under Wine, the Windows builds of the test plug-in. A song converts with the bytes that the
// plug-in in the program gives; a plug-in that crashes costs that song and an error line, and
// the window goes on.
#include "kpi/kpiDriver.h"
#include "tests/support/Hosting.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/ui/WindowFixture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <cstdlib>
#include <filesystem>

using testkpi::TestSong;
using testsupport::Hosting;
using uitest::LogLines;
namespace fs = std::filesystem;

namespace {

class HostedWindow : public uitest::WindowFixture, public ::testing::WithParamInterface<Hosting> {
protected:
    void SetUp() override
    {
        PELLAN_SKIP_UNLESS_HOSTING_RUNS(GetParam());
        if (GetParam() != Hosting::Isolated) {
            ASSERT_FALSE(testsupport::RequireWinePrefix().empty());
        }
        const std::string native = env.Dir / "native";
        fs::create_directories(native);
        plugins.push_back(std::make_unique<testkpi::TestPlugin>(native + "/test.kpi"));
        plugins.push_back(std::make_unique<testkpi::TestPlugin>(
            pluginFolder + "/test.kpi", std::map<std::string, std::string>{},
            testsupport::VariantOf(GetParam())));
    }

    // A window over the native plug-in in the program, or over the hosted one.
    std::unique_ptr<TfrmMain> OpenOver(bool hosted)
    {
        UsePluginFolder(hosted ? pluginFolder : env.Dir / "native");
        isolation.Set("PELLAN_ISOLATE_PLUGINS", hosted && GetParam() == Hosting::Isolated
                                                    ? std::optional<std::string>("1")
                                                    : std::nullopt);
        auto window = Open();
        window->lstLog->clear();
        return window;
    }
    std::string Song(const std::string& name, const std::string& extra = "")
    {
        TestSong song;
        song.Frames = "50000";
        song.Extra = extra;
        song.WriteTo(env.Dir / name);
        return env.Dir / name;
    }
    // Decodes source into output with the window's single-file tab; the log lines it made.
    std::vector<std::string> Decode(TfrmMain& window, const std::string& source,
                                    const std::string& output)
    {
        window.lstLog->clear();
        window.lbeSourceFile->setText(QString::fromStdString(source));
        window.lbePCMFile->setText(QString::fromStdString(output));
        window.cmbPCMFormat->setCurrentIndex(window.cmbPCMFormat->findText("CD"));
        window.btnSingleDecode->click();
        EXPECT_TRUE(uitest::WaitUntil([&] {
            return !LogLines(window).empty() &&
                   (LogLines(window).back() == "デコードは完了しました" ||
                    LogLines(window).back() == "警告: デコードは失敗しました");
        }));
        return LogLines(window);
    }
    // Whether the window runs native plug-ins in hosts too, as a user would ask.
    testsupport::ScopedEnvironment isolation;
};

std::string HostingName(const ::testing::TestParamInfo<Hosting>& info)
{
    return testsupport::NameOf(info.param);
}

} // namespace

TEST_P(HostedWindow, ASongConvertsWithTheBytesOfThePluginInTheProgram)
{
    const std::string source = Song("song.tst");
    std::vector<std::string> nativeLines, hostedLines;
    {
        auto window = OpenOver(false);
        nativeLines = Decode(*window, source, env.Dir / "native.wav");
    }
    {
        auto window = OpenOver(true);
        ASSERT_EQ(window->Driver()->Plugins().size(), 1u);
        EXPECT_NE(window->Driver()->Plugins()[0]->Hosted(), nullptr);
        hostedLines = Decode(*window, source, env.Dir / "hosted.wav");
    }
    EXPECT_EQ(hostedLines, nativeLines);
    const std::string wav = testsupport::ReadFileBytes(env.Dir / "hosted.wav");
    EXPECT_GT(wav.size(), 200000u);
    EXPECT_TRUE(wav == testsupport::ReadFileBytes(env.Dir / "native.wav"));
}

TEST_P(HostedWindow, ACrashingPluginCostsOneSongAndTheWindowGoesOn)
{
    auto window = OpenOver(true);
    const std::vector<std::string> crashed =
        Decode(*window, Song("crash.tst", "crash=render\n"), env.Dir / "crash.wav");
    ASSERT_GE(crashed.size(), 3u);
    EXPECT_EQ(crashed[crashed.size() - 3],
              "エラー: プラグイン test.kpi のホストプロセスが失敗しました");
    // Why, under it: the host's end.
    EXPECT_EQ(crashed[crashed.size() - 2].rfind("  理由: プラグインホストが終了しました (", 0), 0u)
        << crashed[crashed.size() - 2];
    EXPECT_EQ(crashed.back(), "デコードは完了しました");
    EXPECT_EQ(window->btnSingleDecode->text(), "開始(&S)");

    const std::vector<std::string> next = Decode(*window, Song("good.tst"), env.Dir / "good.wav");
    EXPECT_EQ(next.back(), "デコードは完了しました");
    EXPECT_GT(testsupport::ReadFileBytes(env.Dir / "good.wav").size(), 200000u);
}

#ifdef PELLAN_WINE_TESTS
INSTANTIATE_TEST_SUITE_P(Wine, HostedWindow,
                         ::testing::Values(Hosting::Windows64, Hosting::Windows32), HostingName);
#else
INSTANTIATE_TEST_SUITE_P(Native, HostedWindow, ::testing::Values(Hosting::Isolated), HostingName);
#endif

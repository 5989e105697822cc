// pellan-decode driven as a process, as scripts use it: it runs with its own settings under a
// temporary home, over a folder of test plug-ins, and its exit status and both output streams
// are kept. It needs no window, so its tests run in the builds without one too.
#pragma once

#include "tests/support/ProgramRun.h"
#include "tests/support/TempFolder.h"
#include "tests/testplugin/TestPluginHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

struct CliFixture : ::testing::Test {
    TempFolder dir;
    std::string home = dir / "home";
    std::string pluginFolder = dir / "plugins";
    std::vector<std::unique_ptr<testkpi::TestPlugin>> plugins;
    testkpi::TestPlugin* plugin = nullptr;
    // How the program is started: its environment and folder may be changed by a test.
    ProgramRun run{home, dir.Path()};

    CliFixture()
    {
        std::filesystem::create_directories(pluginFolder);
        std::filesystem::create_directories(home);
    }
    void SetUp() override { plugin = &AddPlugin("test.kpi", {{"extensions", ".tst"}}); }

    testkpi::TestPlugin& AddPlugin(const std::string& relativePath,
                                   const std::map<std::string, std::string>& conf = {})
    {
        return testkpi::AddTestPlugin(plugins, pluginFolder, relativePath, conf);
    }
    pid_t Start(const std::vector<std::string>& arguments,
                const std::string& program = PELLAN_DECODE_PROGRAM)
    {
        return run.Start(program, arguments);
    }
    ProgramResult Finish(pid_t pid) { return run.Finish(pid); }
    ProgramResult Run(const std::vector<std::string>& arguments,
                      const std::string& program = PELLAN_DECODE_PROGRAM)
    {
        return run.Run(program, arguments);
    }

    // A test song in the temporary folder: 30000 frames, 680 ms long unless song says.
    std::string Song(const std::string& name, testkpi::TestSong song = testkpi::TestSong{})
    {
        if (song.Frames.empty())
            song.Frames = "30000";
        if (song.Length.empty())
            song.Length = "680";
        song.WriteTo(dir / name);
        return dir / name;
    }
    // The start-up lines, as the window logs them.
    std::vector<std::string> StartLines() const
    {
        return {"Pellan Decoder Version 1.0.0.79 デバッグ版",
                "プラグインを " + pluginFolder + " からロードします",
                "  test.kpi ver.1 をロードしました", "1 個のプラグインをロードしました"};
    }
    std::vector<std::string> EntryLines(const std::string& source) const
    {
        return {"ファイル " + source + " のデコードを開始します",
                "  プラグイン test.kpi を使用します", "  44100Hz, 16 ビット, 2 チャンネル",
                "デコードは完了しました"};
    }
};

} // namespace testsupport

// pellan-decode driven as a process, as scripts use it: it runs with its own settings under a
// temporary home, and its exit status and both output streams are kept.
#pragma once

#include "app/DecodeSettings.h"
#include "tests/testplugin/TestPluginHost.h"
#include "tests/ui/WindowFixture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

namespace clitest {

using testkpi::TestSong;
namespace fs = std::filesystem;

struct Result {
    int Status = -1;
    std::string Out, Err;
    std::vector<std::string> ErrLines() const
    {
        std::vector<std::string> lines;
        std::istringstream in(Err);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
};

struct CliFixture : uitest::WindowFixture {
    testkpi::TestPlugin* plugin = nullptr;
    std::string home = env.Dir / "home";
    // Changes to the program's environment: a value to set, or none to unset the variable.
    std::map<std::string, std::optional<std::string>> environment;
    // The folder the program starts in; "" for the test's own.
    std::string workingFolder;

    void SetUp() override
    {
        plugin = &AddPlugin("test.kpi", {{"extensions", ".tst"}});
        fs::create_directories(home);
    }
    // Starts pellan-decode with its own settings store under home; returns its process id.
    pid_t Start(const std::vector<std::string>& arguments,
                const std::string& program = PELLAN_DECODE_PROGRAM)
    {
        const std::string out = env.Dir / "stdout", err = env.Dir / "stderr";
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (!workingFolder.empty() && ::chdir(workingFolder.c_str()) != 0)
                ::_exit(126);
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
            for (const auto& [name, value] : environment) {
                if (value)
                    ::setenv(name.c_str(), value->c_str(), 1);
                else
                    ::unsetenv(name.c_str());
            }
            const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(outFd, 1);
            ::dup2(errFd, 2);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(program.c_str()));
            for (const auto& a : arguments)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        return pid;
    }
    Result Finish(pid_t pid)
    {
        Result result;
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.Out = testsupport::ReadFileBytes(env.Dir / "stdout");
        result.Err = testsupport::ReadFileBytes(env.Dir / "stderr");
        return result;
    }
    Result Run(const std::vector<std::string>& arguments,
               const std::string& program = PELLAN_DECODE_PROGRAM)
    {
        return Finish(Start(arguments, program));
    }

    std::string Song(const std::string& name, TestSong song = TestSong{})
    {
        if (song.Frames.empty())
            song.Frames = "30000";
        if (song.Length.empty())
            song.Length = "680";
        song.WriteTo(env.Dir / name);
        return env.Dir / name;
    }
    // The start-up lines, as the window logs them.
    std::vector<std::string> StartLines()
    {
        return {"Pellan Decoder Version 1.0.0.79 デバッグ版",
                "プラグインを " + pluginFolder + " からロードします",
                "  test.kpi ver.1 をロードしました", "1 個のプラグインをロードしました"};
    }
    std::vector<std::string> EntryLines(const std::string& source)
    {
        return {"ファイル " + source + " のデコードを開始します",
                "  プラグイン test.kpi を使用します", "  44100Hz, 16 ビット, 2 チャンネル",
                "デコードは完了しました"};
    }
    // The same file decoded through the window's single-file tab.
    std::string DecodeInWindow(const std::string& source, const std::string& output,
                               const std::string& setting)
    {
        UsePluginFolder(pluginFolder);
        auto window = Open();
        window->lbeSourceFile->setText(QString::fromStdString(source));
        window->lbePCMFile->setText(QString::fromStdString(output));
        window->cmbPCMFormat->setCurrentIndex(
            window->cmbPCMFormat->findText(QString::fromStdString(setting)));
        window->btnSingleDecode->click();
        EXPECT_TRUE(uitest::WaitUntil(
            [&] { return uitest::LogLines(*window).back() == "デコードは完了しました"; }));
        return testsupport::ReadFileBytes(output);
    }
};

} // namespace clitest

// Child processes as the plug-in hosts use them: their streams, their end (also while others
// hold their pipes), deadlines, what they say on standard error, and programs on PATH.
#include "platform/ChildProcess.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

using platform::ChildProcess;
using testsupport::TempFolder;
using Clock = std::chrono::steady_clock;

namespace {

std::unique_ptr<ChildProcess> Shell(const std::string& script,
                                    std::vector<std::pair<std::string, std::string>> env = {})
{
    std::string error;
    auto child = ChildProcess::Start({{"/bin/sh", "-c", script}, std::move(env)}, error);
    EXPECT_NE(child, nullptr) << error;
    return child;
}

Clock::time_point In(int ms)
{
    return Clock::now() + std::chrono::milliseconds(ms);
}

} // namespace

TEST(ChildProcess, TalksThroughItsStandardStreamsInLargeBlocks)
{
    std::string error;
    auto cat = ChildProcess::Start({{"/bin/cat"}, {}}, error);
    ASSERT_NE(cat, nullptr) << error;
    std::string block(256 * 1024, '\0');
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>(i * 7 + i / 300);
    for (int round = 0; round < 8; ++round) {
        ASSERT_EQ(cat->Write(block.data(), block.size(), In(5000)), ChildProcess::IoResult::Done);
        std::string back(block.size(), '\0');
        ASSERT_EQ(cat->Read(back.data(), back.size(), In(5000)), ChildProcess::IoResult::Done);
        ASSERT_TRUE(back == block);
    }
    cat->CloseInput();
    char more;
    EXPECT_EQ(cat->Read(&more, 1, In(5000)), ChildProcess::IoResult::Ended);
    EXPECT_TRUE(cat->WaitForExit(In(5000)));
    EXPECT_EQ(cat->ExitDescription(), "exit code 0");
}

TEST(ChildProcess, AProgramThatCannotStartSaysWhy)
{
    TempFolder dir;
    std::string error;
    EXPECT_EQ(ChildProcess::Start({{dir / "nothing"}, {}}, error), nullptr);
    EXPECT_EQ(error, dir / "nothing" + ": No such file or directory");

    // An executable file that no loader knows, as a 32-bit program is to a kernel without
    // 32-bit support.
    testsupport::WriteFileBytes(dir / "strange", std::string("\x7f"
                                                             "ELF\x09garbage",
                                                             12));
    ::chmod((dir / "strange").c_str(), 0755);
    EXPECT_EQ(ChildProcess::Start({{dir / "strange"}, {}}, error), nullptr);
    EXPECT_EQ(error, dir / "strange" + ": Exec format error");
}

TEST(ChildProcess, ItsEndIsSeenWhileAProgramItStartedStillHoldsItsPipes)
{
    // The shell ends at once; the sleep it left behind keeps the output pipe open.
    auto child = Shell("sleep 30 & exit 3");
    const auto start = Clock::now();
    char byte;
    EXPECT_EQ(child->Read(&byte, 1, In(20000)), ChildProcess::IoResult::Ended);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(child->WaitForExit(In(5000)));
    EXPECT_EQ(child->ExitDescription(), "exit code 3");
    // The sleep is in the child's own process group.
    ::kill(-static_cast<pid_t>(child->ProcessId()), SIGKILL);
}

TEST(ChildProcess, AReadWaitsNoLongerThanItsDeadlineAndAKillEndsTheChild)
{
    auto child = Shell("exec sleep 30");
    const auto start = Clock::now();
    char byte;
    EXPECT_EQ(child->Read(&byte, 1, In(300)), ChildProcess::IoResult::TimedOut);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(300));
    EXPECT_LT(waited, std::chrono::seconds(10));
    EXPECT_EQ(child->ExitDescription(), "");
    child->Kill();
    EXPECT_TRUE(child->WaitForExit(In(5000)));
    EXPECT_EQ(child->ExitDescription(), "signal 9 (Killed)");
}

TEST(ChildProcess, WhatItSaysOnStandardErrorIsKeptForTheReason)
{
    auto child = Shell("i=0; while [ $i -lt 300 ]; do echo 'filler line of some length' >&2; "
                       "i=$((i+1)); done; echo 'last words' >&2; kill -SEGV $$");
    char byte;
    EXPECT_EQ(child->Read(&byte, 1, In(20000)), ChildProcess::IoResult::Ended);
    EXPECT_TRUE(child->WaitForExit(In(5000)));
    EXPECT_EQ(child->ExitDescription(), "signal 11 (Segmentation fault)");
    const std::string said = child->ErrorOutput();
    EXPECT_LE(said.size(), 4096u) << "only the end is kept";
    EXPECT_EQ(said.substr(said.size() - 10), "last words");
}

TEST(ChildProcess, AClosedStandardErrorIsNotWatchedAgainAndAgain)
{
    // The child closes its standard error and then answers only after a while: the wait for the
    // answer must sleep, not spin on the hung-up pipe.
    auto child = Shell("exec 2>&-; sleep 2; echo x");
    timespec before{}, after{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
    char byte = 0;
    EXPECT_EQ(child->Read(&byte, 1, In(20000)), ChildProcess::IoResult::Done);
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
    const double cpu =
        double(after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9;
    EXPECT_EQ(byte, 'x');
    EXPECT_LT(cpu, 0.5) << "seconds of processor time spent waiting for two seconds";
}

TEST(ChildProcess, AChildOutlivesTheThreadThatStartedItButNotTheProcess)
{
    // A process starts a child from a thread that ends at once, then is killed.
    TempFolder dir;
    const pid_t parent = ::fork();
    if (parent == 0) {
        std::unique_ptr<ChildProcess> child;
        std::thread([&child] {
            child = Shell("trap '' HUP INT TERM; while :; do sleep 1; done");
        }).join();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const pid_t id = static_cast<pid_t>(child->ProcessId());
        testsupport::WriteFileBytes(dir / "pid", std::to_string(::kill(id, 0) == 0 ? id : -id));
        ::kill(::getpid(), SIGKILL);
    }
    ::waitpid(parent, nullptr, 0);
    const pid_t id = std::atoi(testsupport::ReadFileBytes(dir / "pid").c_str());
    ASSERT_GT(id, 0) << "the child did not outlive the thread that started it";
    // Gone (or a zombie) within a generous limit for a loaded machine.
    const auto gone = [id] {
        std::ifstream stat("/proc/" + std::to_string(id) + "/stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), {});
        return text.empty() || text.find(") Z ") != std::string::npos;
    };
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!gone() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (!gone())
        ::kill(id, SIGKILL);
    EXPECT_TRUE(gone()) << "the child outlived the process that started it";
}

TEST(ChildProcess, WritingToAChildThatEndedFailsAndRaisesNoSignal)
{
    auto child = Shell("exit 0");
    ASSERT_TRUE(child->WaitForExit(In(5000)));
    // SIGPIPE would end this test program.
    const std::string block(2 << 20, 'x');
    EXPECT_EQ(child->Write(block.data(), block.size(), In(5000)), ChildProcess::IoResult::Ended);
    sigset_t pending;
    ::sigpending(&pending);
    EXPECT_EQ(::sigismember(&pending, SIGPIPE), 0);
}

TEST(ChildProcess, GetsThisProcesssEnvironmentWithTheVariablesGiven)
{
    testsupport::ScopedEnvironment environment;
    environment.Set("PELLAN_TEST_KEPT", "kept");
    environment.Set("PELLAN_TEST_REPLACED", "old");
    auto child = Shell("printf '%s|%s|%s' \"$PELLAN_TEST_KEPT\" \"$PELLAN_TEST_REPLACED\" "
                       "\"$PELLAN_TEST_ADDED\"",
                       {{"PELLAN_TEST_REPLACED", "new"}, {"PELLAN_TEST_ADDED", "added"}});
    std::string said(14, '\0');
    EXPECT_EQ(child->Read(said.data(), said.size(), In(5000)), ChildProcess::IoResult::Done);
    EXPECT_EQ(said, "kept|new|added");
}

TEST(ChildProcess, ProgramsAreFoundOnPathFirstFolderFirst)
{
    TempFolder dir;
    for (const char* folder : {"a", "b", "c"})
        std::filesystem::create_directories(dir / folder);
    testsupport::WriteFileBytes(dir / "a/tool", "not executable");
    testsupport::WriteFileBytes(dir / "b/tool", "#!/bin/sh\n");
    testsupport::WriteFileBytes(dir / "c/tool", "#!/bin/sh\n");
    ::chmod((dir / "b/tool").c_str(), 0755);
    ::chmod((dir / "c/tool").c_str(), 0755);
    std::filesystem::create_directories(dir / "a/folder");
    const std::string path = dir / "a" + "::" + dir / "b/" + ":" + dir / "c";
    EXPECT_EQ(platform::FindProgramOnPath("tool", path), dir / "b/tool");
    EXPECT_EQ(platform::FindProgramOnPath("folder", path), "");
    EXPECT_EQ(platform::FindProgramOnPath("missing", path), "");
    // An empty entry is no licence to take programs from the current folder.
    ASSERT_EQ(::chdir((dir / "c").c_str()), 0);
    EXPECT_EQ(platform::FindProgramOnPath("tool", ":" + dir / "a"), "");
}

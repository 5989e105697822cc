// A child process that the program talks to through its standard input and output, such as a
// plug-in host. Every wait has a deadline, and the child's death is noticed even while other
// processes still hold its pipes (programs that a child starts, Wine's services among them,
// inherit them). What the child writes to its standard error is kept, the last few kilobytes
// of it, so that a failure can say what the child said.
//
// Threads: one thread at a time may call the reading and writing members; the owner serialises
// them (the plug-in host client holds its own lock around each request). Kill may come from
// any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    struct Options {
        // The program (a full path) and its arguments.
        std::vector<std::string> Arguments;
        // Variables set for the child on top of this process's environment.
        std::vector<std::pair<std::string, std::string>> Environment;
    };

    enum class IoResult {
        Done,     // everything was read or written
        Ended,    // the child ended or closed its side before that
        TimedOut, // the deadline passed first
    };

    // Starts the child; nullptr when it cannot be started, with the reason in error.
    static std::unique_ptr<ChildProcess> Start(const Options& options, std::string& error);

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Kills the child when it still runs and collects it.
    ~ChildProcess();

    IoResult Write(const void* data, size_t size, Clock::time_point deadline);
    IoResult Read(void* data, size_t size, Clock::time_point deadline);
    // Closes the child's standard input, which a well-behaved child takes as the end.
    void CloseInput();
    void Kill();
    // Waits until the child has ended or the deadline has passed; true when it has ended.
    bool WaitForExit(Clock::time_point deadline);
    // How the child ended ("exit code 3", "signal 11 (Segmentation fault)"); "" while it runs.
    std::string ExitDescription() const;
    // The last bytes the child wrote to its standard error, trimmed of blank lines at the end.
    std::string ErrorOutput();
    int64_t ProcessId() const;

private:
    ChildProcess() = default;
    struct State;
    std::unique_ptr<State> FState;
};

// The full path of the program name as the folders listed in pathVariable (PATH's value) hold
// it, the first folder first; "" when none holds an executable file of that name.
std::string FindProgramOnPath(const std::string& name, const std::string& pathVariable);

} // namespace platform

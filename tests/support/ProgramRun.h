// One of our programs run as a process, as scripts and desktops run it: with its settings
// under a home folder of its own, variables set or removed on top of the test's environment,
// started in a chosen folder, and its exit status and both output streams kept.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

struct winsize;

namespace testsupport {

struct ProgramResult {
    int Status = -1; // the exit status, or 128 + the signal that ended it
    std::string Out, Err;
    std::vector<std::string> ErrLines() const;
    bool HasErrLineStartingWith(const std::string& start) const;
};

class ProgramRun {
public:
    // outputFolder keeps the program's standard output and error ("stdout", "stderr").
    ProgramRun(std::string home, std::string outputFolder);

    std::string Home;
    // Changes to the program's environment: a value to set, or none to remove the variable.
    std::map<std::string, std::optional<std::string>> Environment;
    // The folder the program starts in; "" for the test's own.
    std::string WorkingFolder;

    // Starts program with its outputs going to the output folder; returns its process id.
    pid_t Start(const std::string& program, const std::vector<std::string>& arguments) const;
    // Starts program on a new pseudo-terminal of that size, whose other side goes to
    // *terminal.
    pid_t StartOnTerminal(const std::string& program, const std::vector<std::string>& arguments,
                          const winsize& size, int* terminal) const;
    // Waits for a started program; its outputs are those of the output folder.
    ProgramResult Finish(pid_t pid) const;
    ProgramResult Run(const std::string& program, const std::vector<std::string>& arguments) const
    {
        return Finish(Start(program, arguments));
    }

private:
    std::string FOutputFolder;
    [[noreturn]] void Exec(const std::string& program,
                           const std::vector<std::string>& arguments) const;
};

} // namespace testsupport

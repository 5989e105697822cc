#include "tests/support/ProgramRun.h"

#include "tests/support/TempFolder.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace testsupport {

std::vector<std::string> ProgramResult::ErrLines() const
{
    std::vector<std::string> lines;
    std::istringstream in(Err);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool ProgramResult::HasErrLineStartingWith(const std::string& start) const
{
    for (const auto& line : ErrLines())
        if (line.rfind(start, 0) == 0)
            return true;
    return false;
}

ProgramRun::ProgramRun(std::string home, std::string outputFolder)
    : Home(std::move(home)), FOutputFolder(std::move(outputFolder))
{}

// In the child, between fork and exec.
void ProgramRun::Exec(const std::string& program, const std::vector<std::string>& arguments) const
{
    if (!WorkingFolder.empty() && ::chdir(WorkingFolder.c_str()) != 0)
        ::_exit(126);
    ::setenv("HOME", Home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (Home + "/.config").c_str(), 1);
    for (const auto& [name, value] : Environment) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

pid_t ProgramRun::Start(const std::string& program, const std::vector<std::string>& arguments) const
{
    const std::string out = FOutputFolder + "/stdout", err = FOutputFolder + "/stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (outFd < 0 || errFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0)
            ::_exit(126);
        Exec(program, arguments);
    }
    return pid;
}

pid_t ProgramRun::StartOnTerminal(const std::string& program,
                                  const std::vector<std::string>& arguments, const winsize& size,
                                  int* terminal) const
{
    // Both outputs go to the terminal: nothing is left in the output folder.
    for (const char* name : {"/stdout", "/stderr"})
        WriteFileBytes(FOutputFolder + name, "");
    struct termios raw {};
    ::cfmakeraw(&raw); // "\n" stays "\n"
    winsize copy = size;
    const pid_t pid = ::forkpty(terminal, nullptr, &raw, &copy);
    if (pid == 0)
        Exec(program, arguments);
    return pid;
}

ProgramResult ProgramRun::Finish(pid_t pid) const
{
    ProgramResult result;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return result;
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.Out = ReadFileBytes(FOutputFolder + "/stdout");
    result.Err = ReadFileBytes(FOutputFolder + "/stderr");
    return result;
}

} // namespace testsupport

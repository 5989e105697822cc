// pellan-decode's status line on a pseudo-terminal: never wider than the terminal, measured
// again when the terminal is resized, and showing the songs done of all; the summary after a
// stop. Widths are measured by the C library (wcwidth), not by the program's own table.
#include "tests/cli/CliFixture.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <chrono>
#include <clocale>
#include <cwchar>
#include <functional>
#include <regex>

using testkpi::TestSong;
namespace fs = std::filesystem;

namespace {

// The columns UTF-8 text takes, as the C library's UTF-8 locale counts them.
size_t Columns(const std::string& text)
{
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    const locale_t previous = ::uselocale(utf8);
    std::mbstate_t state{};
    size_t columns = 0;
    for (size_t at = 0; at < text.size();) {
        wchar_t c = 0;
        const size_t length = std::mbrtowc(&c, text.data() + at, text.size() - at, &state);
        if (length == 0 || length > text.size() - at) {
            ++columns, ++at;
            state = {};
            continue;
        }
        columns += static_cast<size_t>(std::max(::wcwidth(c), 0));
        at += length;
    }
    ::uselocale(previous);
    return columns;
}

// The lines drawn in place: the text after each "\r" and the erase that follows it, where no
// line break ends it (a log line).
std::vector<std::string> StatusLines(const std::string& output)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while ((at = output.find('\r', at)) != std::string::npos) {
        const size_t end = output.find_first_of("\r\n", at + 1);
        std::string piece = output.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        at = end == std::string::npos ? output.size() : end;
        if (end != std::string::npos && output[end] == '\n')
            continue;
        if (piece.rfind("\033[K", 0) == 0)
            piece.erase(0, 3);
        if (!piece.empty())
            lines.push_back(piece);
    }
    return lines;
}

struct StatusLineCli : clitest::CliFixture {
    // Runs pellan-decode on a pseudo-terminal of the given width; returns everything it wrote
    // there, with line breaks as written. watch sees the output as it grows, and the terminal.
    std::string RunOnTerminal(const std::vector<std::string>& arguments, unsigned short columns,
                              const std::function<void(int terminal, const std::string&)>& watch)
    {
        struct termios raw {};
        ::cfmakeraw(&raw); // "\n" stays "\n"
        struct winsize size {};
        size.ws_row = 24;
        size.ws_col = columns;
        int terminal = -1;
        const pid_t pid = ::forkpty(&terminal, nullptr, &raw, &size);
        if (pid == 0) {
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
            for (const auto& [name, value] : environment)
                value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
            std::vector<char*> argv = {const_cast<char*>(PELLAN_DECODE_PROGRAM)};
            for (const auto& a : arguments)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(PELLAN_DECODE_PROGRAM, argv.data());
            ::_exit(127);
        }
        std::string output;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            struct pollfd ready = {terminal, POLLIN, 0};
            if (::poll(&ready, 1, 100) > 0) {
                char buffer[4096];
                const ssize_t n = ::read(terminal, buffer, sizeof buffer);
                if (n <= 0)
                    break; // EIO once the program has closed the terminal
                output.append(buffer, static_cast<size_t>(n));
            }
            if (watch)
                watch(terminal, output);
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                break;
            }
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
        ::close(terminal);
        return output;
    }
    // Twelve songs of a second each that take about half a second to render.
    std::vector<std::string> TwelveSongs()
    {
        TestSong slow;
        slow.Frames = "44100";
        slow.Length = "1000";
        slow.DelayMs = 20;
        std::vector<std::string> names;
        for (int i = 1; i <= 12; ++i)
            names.push_back(Song("song" + std::to_string(i) + ".tst", slow));
        return names;
    }
};

} // namespace

TEST_F(StatusLineCli, AFortyColumnTerminalGetsLinesThatFitAndShowSongsDoneOfTwelve)
{
    const std::vector<std::string> songs = TwelveSongs();
    for (const auto language : {txt::Language::Japanese, txt::Language::English}) {
        environment["PELLAN_LANG"] = language == txt::Language::Japanese ? "ja" : "en";
        SCOPED_TRACE(*environment["PELLAN_LANG"]);
        // The time left, a few seconds, up to its last digit however it is worded.
        const std::string wording =
            txt::Format(txt::Text(txt::Id::StatusTimeLeft, language), {"00:00:0"});
        const std::string timeLeft = wording.substr(0, wording.find("00:00:0") + 7);
        std::vector<std::string> arguments = {"--plugins", pluginFolder, "-j",           "2",
                                              "-y",        "--out-dir",  env.Dir / "out"};
        arguments.insert(arguments.end(), songs.begin(), songs.end());
        const std::vector<std::string> lines = StatusLines(RunOnTerminal(arguments, 40, {}));
        ASSERT_GE(lines.size(), 3u);
        size_t widest = 0, ofTwelve = 0, withTimeLeft = 0;
        for (const std::string& line : lines) {
            EXPECT_LT(Columns(line), 40u) << line;
            widest = std::max(widest, Columns(line));
            ofTwelve += std::regex_search(line, std::regex("^([0-9]|1[0-2])/12")) ? 1 : 0;
            withTimeLeft += line.find(timeLeft) != std::string::npos ? 1 : 0;
        }
        EXPECT_EQ(ofTwelve, lines.size());
        EXPECT_GT(withTimeLeft, 0u); // once a song had converted
        EXPECT_GT(widest, 30u);      // the line was cut to the width, not short by itself
    }
}

TEST_F(StatusLineCli, AResizedTerminalIsMeasuredAgain)
{
    const std::vector<std::string> songs = TwelveSongs();
    std::vector<std::string> arguments = {"--plugins", pluginFolder, "-j",
                                          "2",         "--out-dir",  env.Dir / "out"};
    arguments.insert(arguments.end(), songs.begin(), songs.end());
    size_t resizedAt = std::string::npos, settledAt = std::string::npos;
    std::chrono::steady_clock::time_point resizeTime;
    const std::string output =
        RunOnTerminal(arguments, 120, [&](int terminal, const std::string& soFar) {
            const std::vector<std::string> lines = StatusLines(soFar);
            if (resizedAt == std::string::npos && !lines.empty() && Columns(lines.back()) >= 24) {
                struct winsize size {};
                size.ws_row = 24;
                size.ws_col = 24;
                ::ioctl(terminal, TIOCSWINSZ, &size); // SIGWINCH for the program
                resizedAt = soFar.size();
                resizeTime = std::chrono::steady_clock::now();
            } else if (resizedAt != std::string::npos && settledAt == std::string::npos &&
                       std::chrono::steady_clock::now() - resizeTime >
                           std::chrono::milliseconds(300)) {
                settledAt = soFar.size(); // whatever was drawn before the signal has arrived
            }
        });
    ASSERT_NE(settledAt, std::string::npos);
    const std::vector<std::string> before = StatusLines(output.substr(0, resizedAt));
    const std::vector<std::string> after = StatusLines(output.substr(settledAt));
    ASSERT_FALSE(after.empty());
    EXPECT_TRUE(std::any_of(before.begin(), before.end(),
                            [](const std::string& line) { return Columns(line) >= 24; }));
    for (const std::string& line : after)
        EXPECT_LT(Columns(line), 24u) << line;
}

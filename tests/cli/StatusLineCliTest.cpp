// pellan-decode's status line on a pseudo-terminal: never as wide as the terminal, measured
// again when the terminal is resized, showing the songs done of all and the time left. Widths
// are the C library's (wcswidth), not the program's own table; the lines are Japanese, whose
// characters take two columns.
#include "tests/support/CliFixture.h"
#include "texts/Texts.h"

#include <poll.h>
#include <sys/ioctl.h>

#include <clocale>
#include <cwchar>
#include <regex>

namespace {

size_t Columns(const std::string& text)
{
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    const locale_t previous = ::uselocale(utf8);
    std::wstring wide(text.size() + 1, L'\0');
    const size_t length = std::mbstowcs(wide.data(), text.c_str(), wide.size());
    const int columns = length == size_t(-1) ? -1 : ::wcswidth(wide.c_str(), length);
    ::uselocale(previous);
    return columns < 0 ? SIZE_MAX : size_t(columns); // no UTF-8, or a control character
}

// The lines drawn in place: each "\r" and erase ("\033[K") followed by text that no line
// break ends (which would make it a log line).
std::vector<std::string> StatusLines(const std::string& output)
{
    std::vector<std::string> lines;
    std::istringstream in(output);
    std::string piece;
    std::getline(in, piece, '\r');
    while (std::getline(in, piece, '\r'))
        if (piece.find('\n') == std::string::npos && piece.size() > 3)
            lines.push_back(piece.substr(3));
    return lines;
}

using StatusLineCli = testsupport::CliFixture;

} // namespace

TEST_F(StatusLineCli, LinesFitAFortyColumnTerminalAndItsNewWidthOnceResized)
{
    // Twelve songs of a second that take about half a second each to render, two at a time.
    testkpi::TestSong slow;
    slow.Frames = "44100";
    slow.Length = "1000";
    slow.DelayMs = 20;
    std::vector<std::string> arguments = {"--plugins", pluginFolder, "-j2", "--out-dir",
                                          dir / "out"};
    for (int i = 1; i <= 12; ++i)
        arguments.push_back(Song("song" + std::to_string(i) + ".tst", slow));
    struct winsize size = {24, 40, 0, 0};
    int terminal = -1;
    const pid_t pid = run.StartOnTerminal(PELLAN_DECODE_PROGRAM, arguments, size, &terminal);

    // Once the time left is shown (the line then takes 30 columns and more), the terminal
    // shrinks to 24 columns; what the program drew before the signal has come through 300 ms
    // later.
    const std::string wording = txt::Format(txt::Id::StatusTimeLeft, {"00:00:0"});
    const std::string timeLeft = wording.substr(0, wording.find("00:00:0") + 7);
    std::string output;
    size_t resizedAt = 0, settledAt = 0;
    auto resized = std::chrono::steady_clock::now();
    char buffer[4096];
    for (ssize_t n = 0; n >= 0;) {
        struct pollfd ready = {terminal, POLLIN, 0};
        if (::poll(&ready, 1, 100) > 0 && (n = ::read(terminal, buffer, sizeof buffer)) > 0)
            output.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || ready.revents != 0)
            n = -1; // EIO once the program has gone
        const std::vector<std::string> lines = StatusLines(output);
        if (resizedAt == 0 && !lines.empty() && lines.back().find(timeLeft) != std::string::npos) {
            size.ws_col = 24;
            ::ioctl(terminal, TIOCSWINSZ, &size); // SIGWINCH for the program
            resizedAt = output.size();
            resized = std::chrono::steady_clock::now();
        } else if (resizedAt != 0 && settledAt == 0 &&
                   std::chrono::steady_clock::now() - resized > std::chrono::milliseconds(300)) {
            settledAt = output.size();
        }
    }
    EXPECT_EQ(Finish(pid).Status, 0) << output;
    ::close(terminal);

    ASSERT_NE(settledAt, 0u) << output;
    for (const std::string& line : StatusLines(output)) {
        EXPECT_LT(Columns(line), 40u) << line;
        EXPECT_TRUE(std::regex_search(line, std::regex("^([0-9]|1[0-2])/12"))) << line;
    }
    const std::vector<std::string> after = StatusLines(output.substr(settledAt));
    ASSERT_FALSE(after.empty());
    for (const std::string& line : after)
        EXPECT_LT(Columns(line), 24u) << line;
}

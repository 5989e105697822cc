#include "cli/Console.h"

#include "app/ProgramFiles.h"
#include "app/SongDecoding.h"
#include "cli/StatusLine.h"
#include "platform/StandardStreams.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define PELLAN_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define PELLAN_ISATTY(fd) ::isatty(fd)
#endif

namespace {

// A terminal that does not tell its width is taken to have the classic 80 columns.
constexpr int kAssumedColumns = 80;

} // namespace

Console::Console(bool quiet) : FQuiet(quiet), FTerminal(PELLAN_ISATTY(2) != 0)
{
    if (FTerminal && !FQuiet) {
        platform::WatchTerminalSize();
        FTerminalColumns = platform::StandardErrorColumns();
    }
}

void Console::Log(const LogLine& line)
{
    FRunLog.Add(line.Text);
    // Quiet keeps the lines that tell of a problem.
    if (FQuiet && line.Level == txt::Severity::Information)
        return;
    const std::vector<std::string> shown = FShown;
    ClearProgress();
    std::fprintf(stderr, "%s\n", line.Text.c_str());
    if (!shown.empty())
        Draw(shown);
    std::fflush(stderr);
}

void Console::Progress(uint32_t positionMs, uint32_t totalMs)
{
    Draw({"  " + FormatPlayTime(positionMs) + " / " + FormatPlayTime(totalMs)});
}

void Console::Status(const BatchCounts& counts)
{
    const auto now = std::chrono::steady_clock::now();
    if (!FBatchStarted) {
        FBatchStarted = true;
        FBatchStart = now;
    }
    std::vector<std::string> parts = statusline::BatchStatusParts(
        counts, std::chrono::duration<double>(now - FBatchStart).count());
    if (now - FLastStatus < std::chrono::milliseconds(200)) {
        // Not drawn now, but the next log line draws it below itself as it is now.
        if (!FShown.empty())
            FShown = std::move(parts);
        return;
    }
    FLastStatus = now;
    Draw(std::move(parts));
}

std::string Console::SecondsSince(std::chrono::steady_clock::time_point start) const
{
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char time[32];
    std::snprintf(time, sizeof time, "%.1f", seconds);
    return time;
}

void Console::Summary(const BatchCounts& counts, bool stopped)
{
    ClearProgress();
    if (FQuiet && !stopped)
        return;
    const auto number = [](int n) { return std::to_string(n); };
    const std::string summary =
        stopped
            ? txt::Format(txt::Id::BatchStoppedSummary,
                          {number(counts.Converted), number(counts.Failed), number(counts.Skipped),
                           number(counts.Interrupted), number(counts.NotReached),
                           SecondsSince(FStart)})
            : txt::Format(txt::Id::BatchSummary, {number(counts.Converted), number(counts.Failed),
                                                  number(counts.Skipped), SecondsSince(FStart)});
    std::fprintf(stderr, "%s\n", summary.c_str());
    std::fflush(stderr);
}

void Console::DryRunSummary(const BatchCounts& counts)
{
    ClearProgress();
    std::fprintf(stderr, "%s\n",
                 txt::Format(txt::Id::DryRunSummary,
                             {std::to_string(counts.Converted), std::to_string(counts.Failed),
                              std::to_string(counts.Skipped)})
                     .c_str());
    std::fflush(stderr);
}

void Console::SaveRunLog()
{
    if (FRunLog.Lines().empty())
        return; // refused arguments: no run to keep
    try {
        FRunLog.SaveToFile(RunLogPath());
    } catch (const std::exception& e) {
        ClearProgress();
        std::fprintf(stderr, "pellan-decode: %s\n", e.what());
    }
}

void Console::ClearProgress()
{
    if (!FShown.empty()) {
        std::fprintf(stderr, "\r\033[K");
        FShown.clear();
    }
}

size_t Console::Columns()
{
    if (platform::TerminalSizeChanged())
        FTerminalColumns = platform::StandardErrorColumns();
    const int columns = FTerminalColumns > 0 ? FTerminalColumns : kAssumedColumns;
    return columns > 1 ? static_cast<size_t>(columns - 1) : 1;
}

void Console::Draw(std::vector<std::string> parts)
{
    if (FQuiet || !FTerminal)
        return;
    const std::string line =
        statusline::JoinToFit(parts, txt::Text(txt::Id::StatusSeparator), Columns());
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    FShown = std::move(parts);
}

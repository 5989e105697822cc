#include "cli/Console.h"

#include "app/ProgramFiles.h"
#include "app/SongDecoding.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define PELLAN_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define PELLAN_ISATTY(fd) ::isatty(fd)
#endif

namespace {

std::string Elapsed(std::chrono::steady_clock::duration elapsed)
{
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                  seconds % 60);
    return text;
}

} // namespace

Console::Console(bool quiet) : FQuiet(quiet), FTerminal(PELLAN_ISATTY(2) != 0) {}

void Console::Log(const LogLine& line)
{
    FRunLog.Add(line.Text);
    // Quiet keeps the lines that tell of a problem.
    if (FQuiet && line.Level == txt::Severity::Information)
        return;
    const std::string shown = FShown;
    ClearProgress();
    std::fprintf(stderr, "%s\n", line.Text.c_str());
    if (!shown.empty())
        Draw(shown);
    std::fflush(stderr);
}

void Console::Progress(uint32_t positionMs, uint32_t totalMs)
{
    Draw("  " + FormatPlayTime(positionMs) + " / " + FormatPlayTime(totalMs));
}

void Console::Status(const BatchCounts& counts)
{
    const auto now = std::chrono::steady_clock::now();
    if (now - FLastStatus < std::chrono::milliseconds(200))
        return;
    FLastStatus = now;
    Draw(txt::Format(txt::Id::BatchStatus,
                     {std::to_string(counts.Converted), std::to_string(counts.Failed),
                      std::to_string(counts.Skipped), std::to_string(counts.Running),
                      Elapsed(now - FStart)}));
}

void Console::Summary(const BatchCounts& counts)
{
    ClearProgress();
    if (FQuiet)
        return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
    char time[32];
    std::snprintf(time, sizeof time, "%.1f", seconds);
    const std::string summary = txt::Format(
        txt::Id::BatchSummary, {std::to_string(counts.Converted), std::to_string(counts.Failed),
                                std::to_string(counts.Skipped), time});
    std::fprintf(stderr, "%s\n", summary.c_str());
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

void Console::Draw(const std::string& text)
{
    if (FQuiet || !FTerminal)
        return;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    FShown = text;
}

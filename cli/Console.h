// pellan-decode's standard error: whole log lines, and on a terminal one line below them that is
// rewritten in place (a song's progress, or a batch's status), fitted to the terminal's width as
// it is at each drawing. Every line, also those that quiet keeps off the terminal, goes to the
// run log.
//
// Main thread only; the terminal's size changes reach it as a flag (platform::
// TerminalSizeChanged), read at the next drawing.
#pragma once

#include "app/BatchDecoding.h"
#include "app/KbMD_Common.h"
#include "app/LogLines.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class Console {
public:
    explicit Console(bool quiet);

    // One whole line; the line rewritten in place is drawn again below it. Quiet shows only the
    // warnings and errors.
    void Log(const LogLine& line);
    // A single song's position.
    void Progress(uint32_t positionMs, uint32_t totalMs);
    // A batch's counts, the time since the batch began and the time left; at most a few times
    // a second.
    void Status(const BatchCounts& counts);
    // The batch's last line: its counts and its time; after a stop, also the songs stopped
    // halfway and those never started, which quiet does not keep back.
    void Summary(const BatchCounts& counts, bool stopped);
    // The last line of a dry run, which quiet does not keep back either: it is the answer.
    void DryRunSummary(const BatchCounts& counts);
    // Removes the line rewritten in place.
    void ClearProgress();
    // Writes the run log where the window writes its own, replacing the last run's. A log that
    // cannot be written is reported: it is the only record of a quiet run.
    void SaveRunLog();

private:
    // Draws the parts, most important first, as many as the terminal's width takes.
    void Draw(std::vector<std::string> parts);
    // The columns the rewritten line may take: one less than the terminal's width, since a
    // line that reaches the last column wraps on some terminals.
    size_t Columns();
    std::string SecondsSince(std::chrono::steady_clock::time_point start) const;

    bool FQuiet;
    bool FTerminal;
    int FTerminalColumns = 0;        // as last measured; 0 when the terminal does not say
    std::vector<std::string> FShown; // the rewritten line's parts, as last drawn; none: no line
    TRunLog FRunLog;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point FLastStatus{};
    std::chrono::steady_clock::time_point FBatchStart{}; // at the batch's first status
    bool FBatchStarted = false;
};

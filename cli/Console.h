// pellan-decode's standard error: whole log lines, and on a terminal one line below them that is
// rewritten in place (a song's progress, or a batch's status). Every line, also those that quiet
// keeps off the terminal, goes to the run log.
#pragma once

#include "app/BatchDecoding.h"
#include "app/KbMD_Common.h"
#include "app/LogLines.h"

#include <chrono>
#include <cstdint>
#include <string>

class Console {
public:
    explicit Console(bool quiet);

    // One whole line; the line rewritten in place is drawn again below it. Quiet shows only the
    // warnings and errors.
    void Log(const LogLine& line);
    // A single song's position.
    void Progress(uint32_t positionMs, uint32_t totalMs);
    // A batch's counts and the time since the batch began; at most a few times a second.
    void Status(const BatchCounts& counts);
    // The batch's last line: its counts and its time.
    void Summary(const BatchCounts& counts);
    // Removes the line rewritten in place.
    void ClearProgress();
    // Writes the run log where the window writes its own, replacing the last run's. A log that
    // cannot be written is reported: it is the only record of a quiet run.
    void SaveRunLog();

private:
    void Draw(const std::string& text);

    bool FQuiet;
    bool FTerminal;
    std::string FShown; // the line rewritten in place, as last drawn
    TRunLog FRunLog;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point FLastStatus{};
};

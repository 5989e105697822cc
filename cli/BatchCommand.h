// pellan-decode's batch form (--out-dir DIR or --beside with many INPUTs) and its playlist form
// with several jobs: what is converted, where it goes, and the run itself.
#pragma once

#include "app/BatchDecoding.h"
#include "cli/CommandLine.h"

#include <stdexcept>
#include <string>
#include <vector>

class Console;
class TZoKpiDriver;

// A batch refused before anything starts, for a reason its message gives as a log line.
class EBatchRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The batch's inputs, in the order given: files as they are, folders walked (with
// --recursive) for the files some plug-in claims, in name order, hidden names and the output
// folder left out. Each output is named after its input with ".wav", in DIR (below DIR, the
// folders of a walked folder are kept) or beside the input. A walked file that is another
// input's output is left out. Throws std::invalid_argument for a folder without --recursive or
// two inputs that would write the same output (names compared as the file system compares
// them), and EBatchRefused for a named input that is missing, is not a regular file, is a part
// file, or is another input's output.
std::vector<BatchInput> CollectBatchInputs(const CommandLine& command, const TZoKpiDriver& driver);

// The number of songs decoded at once: --jobs; without it one per processor, or one for a
// playlist, which then runs exactly as in the window.
unsigned JobCount(const CommandLine& command);

// Runs the batch form, or with --dry-run says what it would do; returns the exit status.
int RunBatch(TZoKpiDriver& driver, const CommandLine& command, const DecodeSettingRow& row,
             Console& console);
// Runs the playlist form with several jobs; returns the exit status.
int RunPlaylistBatch(TZoKpiDriver& driver, const CommandLine& command, const DecodeSettingRow& row,
                     Console& console);

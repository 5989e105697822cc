// pellan-decode's batch form (--out-dir DIR or --beside with many INPUTs) and its playlist form
// with several jobs: what is converted, where it goes, and the run itself.
#pragma once

#include "app/BatchDecoding.h"
#include "cli/CommandLine.h"

#include <string>
#include <vector>

class Console;
class TZoKpiDriver;

// The batch's inputs, in the order given: files as they are, folders walked (with
// --recursive) for the files some plug-in claims, in name order, hidden names left out. Each
// output is named after its input with ".wav", in DIR (below DIR, the folders of a walked
// folder are kept) or beside the input. Throws std::invalid_argument for an input that does not
// exist, a folder without --recursive, or two inputs that would write the same output.
std::vector<BatchInput> CollectBatchInputs(const CommandLine& command, const TZoKpiDriver& driver);

// The number of songs decoded at once: --jobs; without it one per processor, or one for a
// playlist, which then runs exactly as in the window.
unsigned JobCount(const CommandLine& command);

// Runs the batch form; returns the exit status.
int RunBatch(TZoKpiDriver& driver, const CommandLine& command, const DecodeSettingRow& row,
             Console& console);
// Runs the playlist form with several jobs; returns the exit status.
int RunPlaylistBatch(TZoKpiDriver& driver, const CommandLine& command, const DecodeSettingRow& row,
                     Console& console);

// The console program's standard streams beyond plain printing: standard output handed to the
// one writer of a WAV stream, and the width of the terminal that standard error may be.
#pragma once

#include <cstdint>
#include <cstdio>

namespace platform {

// Standard output taken over by one writer.
struct TakenOutput {
    std::FILE* File = nullptr; // binary, owned by the caller: closing it ends the stream
    // A regular file opened at its start and not for appending (a shell's "> out.wav"), whose
    // beginning can be written again at the end. A pipe, a terminal, a device or a file opened
    // for appending is not.
    bool Seekable = false;
};

// Main thread, before any other thread exists that might print. Duplicates standard output
// into a stream of its own, kept from child processes so that the reader sees the end when it
// is closed, and points standard output at standard error: whatever else the process prints
// there (a plug-in's stray message) goes to the log's side and cannot mix into the stream.
// File is nullptr when standard output is closed.
TakenOutput TakeStandardOutput();

// Decoder thread: from now on a write on this thread to a pipe whose reader has gone fails
// (EPIPE), to be reported, rather than ending the process without a word.
void KeepBrokenPipesFromEndingThisThread();

// Cuts the regular file open as file down to size bytes when it is longer. Anything else (a
// device, a pipe) is left alone. False when cutting failed.
bool CutFileTo(std::FILE* file, uint64_t size);

// The width in columns of the terminal that standard error is; 0 when it is no terminal or
// does not say.
int StandardErrorColumns();

// Main thread. Notes every change of the terminal's size from now on (SIGWINCH on Linux); the
// signal's handler only sets a flag.
void WatchTerminalSize();
// Whether the terminal's size may have changed since the last call (always on Windows, where
// no signal tells and measuring is cheap).
bool TerminalSizeChanged();

} // namespace platform

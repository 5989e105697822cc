// The output files being written at this moment, for a program that must end at once (a second
// Ctrl+C, a second termination request) and still leave no partial file behind. Whoever creates
// such a file adds it and removes it again once the file is complete or deleted; an emergency
// exit deletes whatever is still listed.
#pragma once

#include <string>

namespace platform {

class FilesInProgress {
public:
    // Any thread. Returns a token for Remove, or -1 when the path cannot be listed (too long,
    // or too many files at once); such a file is then not deleted by an emergency exit.
    static int Add(const std::string& path);
    // The same for a folder of the program's own, removed after the files (it must be empty
    // by then).
    static int AddFolder(const std::string& path);
    // Any thread. The file is complete, or deleted already.
    static void Remove(int token);
    // Deletes every listed file, then every listed folder. Async-signal-safe: for a signal
    // handler or a console control handler that ends the program right after.
    static void DeleteAllNow();
};

} // namespace platform

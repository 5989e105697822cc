// Output files written under a temporary name in their own folder and given their real name
// only once they are complete, so that an output's name only ever holds a finished file, and an
// older file under that name is replaced by the new one in one step or not at all.
//
// A part file is hidden (its name begins with a dot; on Windows it also carries the hidden
// attribute while it is written) and recognisable: ".pellan-" + the writer's process id + "-" +
// a counter + "-" + the output's name + ".part". While a program writes one it holds a lock on
// it (flock on POSIX, a byte-range lock on Windows), which the system drops when the program
// ends, however it ends. A part file that nobody holds was left by a program that was killed
// outright; the next run over its folder removes it. A part file is also on the emergency-exit
// list (FilesInProgress) from its creation until it has been renamed or deleted.
//
// Threads: a PartFile is created, committed and discarded by one thread (the main thread); the
// decoder thread only writes the file through its own handle meanwhile.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace platform {

// Whether name (without folder) is the name of a part file.
bool IsPartFileName(const std::string& name);

class PartFile {
public:
    // Creates the empty part file of target in target's folder and takes its lock. Nothing, and
    // the system's reason in error, when it cannot be created.
    static std::unique_ptr<PartFile> Create(const std::string& target, std::string& error);
    // Deletes the file unless it was committed.
    ~PartFile();
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    const std::string& Path() const { return FPath; }
    const std::string& Target() const { return FTarget; }

    // Marks the file hidden where names alone do not hide it (Windows). Called once the writer
    // has opened the file: Windows refuses to recreate a hidden file.
    void Hide();

    enum class Outcome { Moved, TargetExists, Failed };
    // Gives the complete file its target name (the writer has closed it). With replace an
    // existing target is replaced in one step; without, an existing target is kept and the
    // outcome is TargetExists. On Failed, error holds the system's reason. The part file is
    // deleted whenever it was not moved.
    Outcome Commit(bool replace, std::string& error);
    // Deletes the file (also when the writer has deleted it already).
    void Discard();

private:
    PartFile() = default;
    bool Locked() const;
    void Release(); // drops the lock and the emergency-exit entry

    std::string FPath;
    std::string FTarget;
    bool FDone = false;
    int FInProgress = -1;
#ifdef _WIN32
    void* FLock = nullptr; // HANDLE
#else
    int FLock = -1;
#endif
};

// Removes the part files in folder that no running program holds, and returns their paths. A
// folder that cannot be listed gives none.
std::vector<std::string> RemoveAbandonedPartFiles(const std::string& folder);

} // namespace platform

// Names of this system that a Windows program under Wine cannot be given as they are. Wine shows
// a Linux file under its DOS name, but Windows reads some characters otherwise: a backslash
// separates folders (a\b.mid would be the file b.mid in the folder a), a trailing dot or blank
// is dropped, NUL.mid is a device, and ", |, <, >, :, *, ? and control characters cannot stand
// in a name at all. Such a file reaches a Windows plug-in through a symbolic link with a plain
// name in a private folder of the program's.
#pragma once

#ifndef _WIN32

#include <memory>
#include <string>

namespace platform {

// Why Windows cannot name path as it is, for the log; "" when every component is plain.
std::string WindowsNameProblem(const std::string& path);

// A symbolic link with a plain name that leads to a file. The links live in one folder that
// the program makes when it needs the first one (mode 0700, an unpredictable name, under
// $XDG_RUNTIME_DIR, else $TMPDIR, else /tmp) and removes with the last one; an emergency exit
// removes them all (FilesInProgress).
//
// Threads: any thread may make and drop links; a lock of the class guards the folder.
class PlainNameLink {
public:
    // A link to target (an absolute path) that keeps its extension when that is plain; nullptr
    // with the reason in error when none can be made.
    static std::unique_ptr<PlainNameLink> Make(const std::string& target, std::string& error);
    PlainNameLink(const PlainNameLink&) = delete;
    PlainNameLink& operator=(const PlainNameLink&) = delete;
    ~PlainNameLink();

    const std::string& Path() const { return FPath; }

private:
    PlainNameLink() = default;
    std::string FPath;
    int FInProgress = -1;
};

} // namespace platform

#endif

#include "platform/PlainNames.h"

#ifndef _WIN32

#include "platform/CodePages.h"
#include "platform/FileSystem.h"
#include "platform/FilesInProgress.h"
#include "platform/Paths.h"
#include "platform/ThreadAnnotations.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

bool IsDeviceName(const std::string& component)
{
    // The part before the first dot, without the blanks Windows drops, names a device whatever
    // follows it: "nul.mid" and "com1 .txt" are devices.
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

std::string ComponentProblem(const std::string& component)
{
    for (const char c : component) {
        if (static_cast<unsigned char>(c) < 0x20)
            return "a control character";
        if (std::strchr("\\\"|<>:*?", c) != nullptr)
            return std::string("the character ") + c;
    }
    if (!IsValidUtf8(component))
        return "bytes that are not UTF-8";
    if (component != "." && component != ".." &&
        (component.back() == '.' || component.back() == ' '))
        return "a dot or a blank at the end of a name";
    if (IsDeviceName(component))
        return "the name of a device (" + component + ")";
    return "";
}

bool IsPlainExtension(const std::string& ext)
{
    for (size_t i = 1; i < ext.size(); ++i)
        if (!((ext[i] >= 'a' && ext[i] <= 'z') || (ext[i] >= 'A' && ext[i] <= 'Z') ||
              (ext[i] >= '0' && ext[i] <= '9') || ext[i] == '_' || ext[i] == '-'))
            return false;
    return ext.size() > 1;
}

// The private folder and its links.
Mutex gLock;
std::string gFolder GUARDED_BY(gLock);
int gFolderInProgress GUARDED_BY(gLock) = -1;
int gLinks GUARDED_BY(gLock) = 0;
unsigned gNextName GUARDED_BY(gLock) = 0;

// The folder, made when there is none; "" with the reason in error when it cannot be.
std::string Folder(std::string& error) REQUIRES(gLock)
{
    if (!gFolder.empty())
        return gFolder;
    std::string base;
    for (const char* variable : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* value = std::getenv(variable);
        // Only a place whose own name a Windows program can read.
        if (value != nullptr && IsAbsolutePath(value) && FolderExists(value) &&
            WindowsNameProblem(value).empty()) {
            base = value;
            break;
        }
    }
    if (base.empty())
        base = "/tmp";
    std::string name = IncludeTrailingDelimiter(base) + "pellan-names-XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) {
        error = "cannot make a folder in " + base + ": " + std::strerror(errno);
        return "";
    }
    gFolder = name;
    gFolderInProgress = FilesInProgress::AddFolder(gFolder);
    return gFolder;
}

} // namespace

std::string WindowsNameProblem(const std::string& path)
{
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string component = path.substr(start, end - start);
        if (!component.empty()) {
            const std::string problem = ComponentProblem(component);
            if (!problem.empty())
                return "\"" + component + "\" holds " + problem;
        }
        start = end + 1;
    }
    return "";
}

std::unique_ptr<PlainNameLink> PlainNameLink::Make(const std::string& target, std::string& error)
{
    MutexLock lock(gLock);
    const std::string folder = Folder(error);
    if (folder.empty())
        return nullptr;
    const std::string ext = ExtractFileExt(target);
    std::unique_ptr<PlainNameLink> link(new PlainNameLink);
    link->FPath = IncludeTrailingDelimiter(folder) + std::to_string(++gNextName) +
                  (IsPlainExtension(ext) ? ext : "");
    if (::symlink(target.c_str(), link->FPath.c_str()) != 0) {
        error = "cannot make a link in " + folder + ": " + std::strerror(errno);
        link->FPath.clear();
        if (gLinks == 0) {
            ::rmdir(gFolder.c_str());
            FilesInProgress::Remove(gFolderInProgress);
            gFolder.clear();
        }
        return nullptr;
    }
    link->FInProgress = FilesInProgress::Add(link->FPath);
    ++gLinks;
    return link;
}

PlainNameLink::~PlainNameLink()
{
    MutexLock lock(gLock);
    // Removed before it leaves the emergency list, so that no moment leaves it behind.
    ::unlink(FPath.c_str());
    FilesInProgress::Remove(FInProgress);
    // The folder goes with its last link.
    if (--gLinks == 0) {
        ::rmdir(gFolder.c_str());
        FilesInProgress::Remove(gFolderInProgress);
        gFolder.clear();
    }
}

} // namespace platform

#endif

#include "platform/DynamicLibrary.h"
#include "texts/Texts.h"

#include "platform/FileSystem.h"
#include "platform/Paths.h"

#ifdef _WIN32
#include "platform/LibraryFormat.h"
#include "platform/WindowsText.h"

#include <windows.h>

#include <cwctype>
#include <set>
#else
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#endif

namespace platform {

#ifdef _WIN32

namespace {

// Whether the system finds a DLL of that name where it looks for the DLLs a plug-in imports
// (already loaded, or on its search path), without running any of its code.
bool SystemFinds(const std::string& name)
{
    const std::wstring wide = Utf8ToWide(name);
    if (GetModuleHandleW(wide.c_str()) != nullptr)
        return true;
    HMODULE data = LoadLibraryExW(wide.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (data == nullptr)
        return false;
    FreeLibrary(data);
    return true;
}

// The DLLs that image needs and that neither its folder nor the system holds: what image
// imports, and what the DLLs of its folder that it imports import in turn.
void FindMissing(const std::string& image, const std::string& folder, std::set<std::wstring>& seen,
                 std::vector<std::string>& missing)
{
    for (const std::string& name : ReadPeImports(image)) {
        std::wstring key = Utf8ToWide(name);
        for (wchar_t& c : key)
            c = static_cast<wchar_t>(std::towlower(c));
        if (!seen.insert(key).second)
            continue;
        const std::string beside = folder + name;
        if (IsRegularFile(beside))
            FindMissing(beside, folder, seen, missing);
        else if (!SystemFinds(name))
            missing.push_back(name);
    }
}

// Why path did not load, for the log: the DLLs it needs that are not there, read from its
// import table, where the loader says only that a module is missing; else the loader's own
// text, the file named in it.
std::string LoadFailure(const std::string& path, DWORD code)
{
    if (code == ERROR_MOD_NOT_FOUND && IsRegularFile(path)) {
        std::set<std::wstring> seen;
        std::vector<std::string> missing;
        FindMissing(path, ExtractFilePath(path), seen, missing);
        if (!missing.empty()) {
            std::string names;
            for (const std::string& name : missing)
                names += (names.empty() ? "" : ", ") + name;
            return txt::Format(
                RunsUnderWine() ? txt::Id::MissingDllsUnderWine : txt::Id::MissingDlls, {names});
        }
    }
    return SystemErrorText(code, path);
}

} // namespace

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& path, std::string& error)
{
    // The altered search path makes Windows look in the plug-in's own folder first for the
    // DLLs it depends on. The wide call: a plug-in folder may have a name in any script.
    HMODULE module =
        LoadLibraryExW(Utf8ToWide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        error = LoadFailure(path, GetLastError());
        return nullptr;
    }
    std::unique_ptr<DynamicLibrary> library(new DynamicLibrary);
    library->FHandle = module;
    return library;
}

DynamicLibrary::~DynamicLibrary()
{
    if (FHandle != nullptr)
        FreeLibrary(static_cast<HMODULE>(FHandle));
}

void* DynamicLibrary::Symbol(const char* name) const
{
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FHandle), name));
}

#else

namespace {

struct DynamicSection {
    std::vector<std::string> needed;
    bool hasRunPath = false;
};

// Reads the dynamic section of an ELF file of this machine's own class and byte order. Every
// offset taken from the file is checked against its size: a plug-in folder may hold anything.
bool ReadDynamicSection(const std::string& path, DynamicSection& out)
{
    // Only a plain file of a plausible size is read whole.
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > (256 << 20))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto fits = [&](uint64_t offset, uint64_t size) {
        return offset <= image.size() && size <= image.size() - offset;
    };
    if (!fits(0, sizeof(ElfW(Ehdr))))
        return false;
    ElfW(Ehdr) header;
    std::memcpy(&header, image.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0)
        return false;
#if __SIZEOF_POINTER__ == 8
    if (header.e_ident[EI_CLASS] != ELFCLASS64)
        return false;
#else
    if (header.e_ident[EI_CLASS] != ELFCLASS32)
        return false;
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (header.e_ident[EI_DATA] != ELFDATA2LSB)
        return false;
#else
    if (header.e_ident[EI_DATA] != ELFDATA2MSB)
        return false;
#endif
    if (header.e_phentsize != sizeof(ElfW(Phdr)))
        return false;

    std::vector<ElfW(Phdr)> segments;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        const uint64_t at = header.e_phoff + uint64_t(i) * sizeof(ElfW(Phdr));
        if (!fits(at, sizeof(ElfW(Phdr))))
            return false;
        ElfW(Phdr) segment;
        std::memcpy(&segment, image.data() + at, sizeof segment);
        segments.push_back(segment);
    }
    // Addresses in the dynamic section are virtual; the loadable segments map them back to
    // file offsets.
    const auto fileOffset = [&](uint64_t address, uint64_t& offset) {
        for (const auto& s : segments)
            if (s.p_type == PT_LOAD && address >= s.p_vaddr && address - s.p_vaddr < s.p_filesz) {
                offset = s.p_offset + (address - s.p_vaddr);
                return true;
            }
        return false;
    };

    for (const auto& s : segments) {
        if (s.p_type != PT_DYNAMIC || !fits(s.p_offset, s.p_filesz))
            continue;
        std::vector<uint64_t> neededOffsets;
        uint64_t stringTable = 0;
        bool haveStringTable = false;
        for (uint64_t at = s.p_offset; at + sizeof(ElfW(Dyn)) <= s.p_offset + s.p_filesz;
             at += sizeof(ElfW(Dyn))) {
            ElfW(Dyn) entry;
            std::memcpy(&entry, image.data() + at, sizeof entry);
            if (entry.d_tag == DT_NULL)
                break;
            if (entry.d_tag == DT_NEEDED)
                neededOffsets.push_back(entry.d_un.d_val);
            else if (entry.d_tag == DT_STRTAB) {
                stringTable = entry.d_un.d_ptr;
                haveStringTable = true;
            } else if (entry.d_tag == DT_RPATH || entry.d_tag == DT_RUNPATH)
                out.hasRunPath = true;
        }
        uint64_t tableOffset = 0;
        if (!haveStringTable || !fileOffset(stringTable, tableOffset))
            return true;
        for (uint64_t n : neededOffsets) {
            const uint64_t at = tableOffset + n;
            if (!fits(at, 1))
                continue;
            const char* begin = image.data() + at;
            const void* end = std::memchr(begin, '\0', image.size() - at);
            if (end != nullptr)
                out.needed.emplace_back(begin, static_cast<const char*>(end));
        }
        return true;
    }
    return true;
}

// Opens, dependencies first, every library that path needs and that lies in folder, so that
// the dynamic loader finds them already loaded (by their SONAME) when path is opened.
void OpenDependenciesFromFolder(const std::string& path, const std::string& folder,
                                std::set<std::string>& visited, std::vector<void*>& handles)
{
    DynamicSection section;
    if (!ReadDynamicSection(path, section))
        return;
    for (const auto& name : section.needed) {
        if (name.find('/') != std::string::npos)
            continue;
        const std::string candidate = folder + name;
        if (!visited.insert(candidate).second || !IsRegularFile(candidate))
            continue;
        OpenDependenciesFromFolder(candidate, folder, visited, handles);
        if (void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL))
            handles.push_back(handle);
    }
}

} // namespace

std::vector<std::string> ReadNeededLibraries(const std::string& path)
{
    DynamicSection section;
    ReadDynamicSection(path, section);
    return section.needed;
}

bool HasRunPath(const std::string& path)
{
    DynamicSection section;
    return ReadDynamicSection(path, section) && section.hasRunPath;
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& path, std::string& error)
{
    // Opening a pipe or a device would block or read for ever; a library is a plain file.
    if (!IsRegularFile(path)) {
        error = FileExists(path) || FolderExists(path) ? "not a regular file" : "no such file";
        return nullptr;
    }
    std::unique_ptr<DynamicLibrary> library(new DynamicLibrary);
    std::set<std::string> visited;
    OpenDependenciesFromFolder(path, ExtractFilePath(path), visited, library->FDependencies);
    library->FHandle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library->FHandle == nullptr) {
        const char* reason = ::dlerror();
        error = reason != nullptr ? reason : "the library cannot be loaded";
        return nullptr; // the destructor releases the dependencies opened for it
    }
    return library;
}

DynamicLibrary::~DynamicLibrary()
{
    if (FHandle != nullptr)
        ::dlclose(FHandle);
    for (auto it = FDependencies.rbegin(); it != FDependencies.rend(); ++it)
        ::dlclose(*it);
}

void* DynamicLibrary::Symbol(const char* name) const
{
    return ::dlsym(FHandle, name);
}

#endif

} // namespace platform

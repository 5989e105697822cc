// Fuzz target for the KBM playlist reader: every input is written to a file and read through
// the reader entry by entry, as the playlist decoding reads it. Besides crashes and reads out
// of bounds (AddressSanitizer), any difference from the list-of-lines model is a finding.
#include "platform/Errors.h"
#include "playlist/kpiPlayListReader.h"
#include "tests/playlist/PlaylistModel.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// One file per fuzzing process, kept open for rewriting and removed when the process exits.
class ScratchFile {
public:
    ScratchFile()
    {
        const char* tmp = std::getenv("TMPDIR");
        FPath = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                "/pellan-playlist-fuzz-XXXXXX";
        FFile = ::mkstemp(FPath.data());
        if (FFile < 0)
            std::abort();
    }
    ~ScratchFile()
    {
        ::close(FFile);
        ::unlink(FPath.c_str());
    }

    void Write(const uint8_t* data, size_t size) const
    {
        if (::ftruncate(FFile, 0) != 0 ||
            ::pwrite(FFile, data, size, 0) != static_cast<ssize_t>(size))
            std::abort();
    }
    const std::string& Path() const { return FPath; }

private:
    std::string FPath;
    int FFile = -1;
};

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const ScratchFile scratch;
    scratch.Write(data, size);
    const playlistmodel::Result model =
        playlistmodel::Read(std::string_view(reinterpret_cast<const char*>(data), size));

    try {
        TZoKbmPlayListReader reader(scratch.Path());
        Check(model.Opened);
        TZoKbmPlayListEntry entry;
        size_t count = 0;
        while (!reader.Eof()) {
            Check(count < model.Entries.size());
            reader.ReadEntry(entry);
            Check(playlistmodel::operator==(entry, model.Entries[count]));
            ++count;
        }
        Check(count == model.Entries.size());
        TZoKbmPlayListEntry again;
        reader.ReadEntry(again);
        Check(playlistmodel::operator==(again, entry));
    } catch (const EZoError&) {
        Check(!model.Opened);
    }
    return 0;
}

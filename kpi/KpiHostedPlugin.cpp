#include "kpi/KpiHostedPlugin.h"

#include "kpi/KpiHostProcess.h"
#include "kpi/KpiLoadFailed.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/PlainNames.h"
#include "platform/SharedMemory.h"

#include <algorithm>
#include <cstring>

namespace {

// How much one Render request asks the host for, at most. Enough that a song moves in a few
// dozen requests per minute of CD audio; small enough to stay in the caches.
constexpr uint32_t kAheadBytes = 1u << 20;
// A song's shared memory: room for a whole batch and then some. Pages that are never written
// cost nothing.
constexpr uint32_t kSharedBytes = 2u << 20;

} // namespace

struct TZoKpiHostedPlugin::Song {
    std::shared_ptr<TZoKpiHost> Host;
    KPI_HANDLE Remote = 0;
#ifndef _WIN32
    // The plain name the plug-in was given for a file whose own name Windows cannot read; kept
    // as long as the song, which the plug-in may open again by that name.
    std::unique_ptr<platform::PlainNameLink> Link;
#endif
    // The memory the host renders the song's blocks into, when it could take it; asked for at
    // the first render.
    std::unique_ptr<platform::SharedMemory> Shared;
    bool ShareAsked = false;
    // Nothing has reached the song since its host opened it, at its start.
    bool AtStart = true;
    // Blocks rendered ahead: where they are (the shared memory, or the reply's payload), the
    // blocks' lengths, the next block and how much of it was already handed out (only after a
    // render of another size).
    const uint8_t* Data = nullptr;
    std::vector<uint8_t> Payload;
    std::vector<uint32_t> Lengths;
    uint32_t BlockSize = 0;
    size_t Next = 0;
    size_t NextOffset = 0;
    uint32_t NextUsed = 0;

    bool HasAhead() const
    {
        return Next < Lengths.size();
    }
    void DropAhead()
    {
        Lengths.clear();
        Next = 0;
        NextOffset = 0;
        NextUsed = 0;
    }
};

TZoKpiHostedPlugin::TZoKpiHostedPlugin(std::shared_ptr<TZoKpiHostPool> pool, KpiHostKind kind,
                                       const std::string& fileName)
    : FPool(std::move(pool)), FKind(kind), FFileName(fileName)
{}

TZoKpiHostedPlugin::~TZoKpiHostedPlugin()
{
    for (Serving& serving : FHosts)
        FPool->Retire(std::move(serving.Host));
}

TZoKpiLibraryRecord TZoKpiHostedPlugin::Load()
{
#ifndef _WIN32
    // A library is looked for beside itself for what it needs, so a link elsewhere would not
    // do: a plug-in whose path Windows cannot read is not loaded.
    if (TZoKpiHostPool::PathStyleFor(FKind) == kpihost::PathStyle::Unix)
        if (const std::string problem = platform::WindowsNameProblem(FFileName); !problem.empty())
            throw EKpiLoadFailed(EKpiLoadFailed::kCannotLoad,
                                 txt::Format(txt::Id::PathUnreadableOnWindows, {problem}));
#endif
    const kpihost::LoadResult result = FPool->Probe(FKind, FFileName);
    if (!result.Loaded) {
        if (result.LoadFailure)
            throw EKpiLoadFailed(result.Code, result.Reason);
        throw EZoError(result.Reason);
    }
    // The host's own TZoKpi checked the record before it answered; the TZoKpi here checks it
    // again, so a host that reports a record it would have refused is refused all the same.
    TZoKpiLibraryRecord record;
    record.Module.InterfaceVersion = result.Module.InterfaceVersion;
    record.Module.PluginVersion = result.Module.PluginVersion;
    record.Module.Reentrant = result.Module.Reentrant;
    record.Extensions = result.Module.Extensions;
    record.HasSongInfo = result.Module.HasSongInfo;
    record.HasOpenError = result.Module.HasOpenError;
    return record;
}

std::string TZoKpiHostedPlugin::LastFailure() const
{
    platform::MutexLock lock(FLock);
    return FLastFailure;
}

void TZoKpiHostedPlugin::NoteFailure(const std::string& reason)
{
    platform::MutexLock lock(FLock);
    FLastFailure = reason;
}

int64_t TZoKpiHostedPlugin::ServingProcessId() const
{
    platform::MutexLock lock(FLock);
    for (const Serving& serving : FHosts)
        if (serving.Host->Alive())
            return serving.Host->ProcessId();
    return -1;
}

int64_t TZoKpiHostedPlugin::ServingProcessId(KPI_HANDLE handle) const
{
    const std::shared_ptr<Song> song = FindSong(handle);
    return song && song->Host->Alive() ? song->Host->ProcessId() : -1;
}

int TZoKpiHostedPlugin::ServingHosts() const
{
    platform::MutexLock lock(FLock);
    return static_cast<int>(std::count_if(FHosts.begin(), FHosts.end(),
                                          [](const Serving& s) { return s.Host->Alive(); }));
}

std::shared_ptr<TZoKpiHostedPlugin::Song> TZoKpiHostedPlugin::FindSong(KPI_HANDLE handle) const
{
    platform::MutexLock lock(FLock);
    const auto it = FSongs.find(handle);
    return it == FSongs.end() ? nullptr : it->second;
}

std::shared_ptr<TZoKpiHost> TZoKpiHostedPlugin::ServingHost()
{
    platform::MutexLock choosing(FHostLock);
    std::vector<std::shared_ptr<TZoKpiHost>> dead;
    {
        platform::MutexLock lock(FLock);
        // A dead host's songs fail by themselves; it is let go once none is left on it, and
        // never chosen again.
        std::erase_if(FHosts, [&dead](Serving& serving) {
            if (serving.Host->Alive() || serving.Songs > 0)
                return false;
            dead.push_back(std::move(serving.Host));
            return true;
        });
        for (Serving& serving : FHosts)
            if (serving.Host->Alive() && serving.Songs == 0) {
                ++serving.Songs;
                return serving.Host;
            }
    }
    for (auto& host : dead)
        FPool->Retire(std::move(host));
    kpihost::LoadResult result;
    std::shared_ptr<TZoKpiHost> host = FPool->Serve(FKind, FFileName, result);
    if (!host)
        throw EZoError(result.Reason.empty() ? txt::Text(txt::Id::HostDidNotLoadAgain)
                                             : result.Reason);
    platform::MutexLock lock(FLock);
    FHosts.push_back(Serving{host, 1});
    return host;
}

void TZoKpiHostedPlugin::Vacate(const std::shared_ptr<TZoKpiHost>& host)
{
    platform::MutexLock lock(FLock);
    for (Serving& serving : FHosts)
        if (serving.Host == host && serving.Songs > 0) {
            --serving.Songs;
            return;
        }
}

KPI_HANDLE TZoKpiHostedPlugin::Open(const std::string& fileName, SoundFormat& format,
                                    std::string* failure)
{
    const auto failed = [&](const std::string& why) {
        NoteFailure(why);
        if (failure != nullptr)
            *failure = why;
        return KPI_HANDLE(0);
    };
    std::shared_ptr<TZoKpiHost> host;
    try {
        kpihost::OpenRequest request;
        request.Path = fileName;
#ifndef _WIN32
        // A Windows plug-in is never handed a name that it would read as another file: such a
        // file goes to it through a link with a plain name.
        std::unique_ptr<platform::PlainNameLink> link;
        if (TZoKpiHostPool::PathStyleFor(FKind) == kpihost::PathStyle::Unix) {
            const std::string path = platform::AbsolutePath(fileName);
            if (const std::string problem = platform::WindowsNameProblem(path); !problem.empty()) {
                std::string error;
                link = platform::PlainNameLink::Make(path, error);
                if (!link)
                    throw EZoError(
                        txt::Format(txt::Id::PathUnreadableOnWindowsNoLink, {problem, error}));
                request.Path = link->Path();
            }
        }
#endif
        host = ServingHost();
        request.Style = TZoKpiHostPool::PathStyleFor(FKind);
        // A relative name means what it means to this process.
        request.CurrentFolder = platform::CurrentFolder();
        request.Format = format;
        std::vector<uint8_t> payload;
        host->Call(kpihost::EncodeOpen(request), payload, kpihost::ReplyLimit(kpihost::kOpen));
        const kpihost::OpenReply reply = kpihost::DecodeOpenReply(payload.data(), payload.size());
        format = reply.Format;
        if (reply.Handle == 0) {
            Vacate(host);
            if (failure != nullptr)
                *failure = reply.Failure;
            return 0;
        }
        auto song = std::make_shared<Song>();
        song->Host = host;
        song->Remote = reply.Handle;
#ifndef _WIN32
        song->Link = std::move(link);
#endif
        platform::MutexLock lock(FLock);
        // Handles of this side, never reused while the plug-in lives: a song of a host that
        // died can never reach a song of the host after it.
        KPI_HANDLE handle = FNextHandle++;
        if (handle == 0)
            handle = FNextHandle++;
        FSongs[handle] = std::move(song);
        return handle;
    } catch (const kpihost::EKpiHostProtocol& e) {
        // The reply was read whole but does not make sense: the host cannot be trusted on.
        host->Finish(std::chrono::steady_clock::now());
        Vacate(host);
        return failed(txt::Format(txt::Id::HostBrokeProtocol, {e.what()}));
    } catch (const std::exception& e) {
        if (host)
            Vacate(host);
        return failed(e.what());
    }
}

void TZoKpiHostedPlugin::Close(KPI_HANDLE handle)
{
    std::shared_ptr<Song> song;
    {
        platform::MutexLock lock(FLock);
        const auto it = FSongs.find(handle);
        if (it == FSongs.end())
            return;
        song = std::move(it->second);
        FSongs.erase(it);
    }
    // The song's place on its host is free again once the plug-in has closed it there.
    struct Vacating {
        TZoKpiHostedPlugin& Plugin;
        const std::shared_ptr<TZoKpiHost>& Host;
        ~Vacating() { Plugin.Vacate(Host); }
    } vacating{*this, song->Host};
    if (!song->Host->Alive())
        return;
    try {
        std::vector<uint8_t> payload;
        song->Host->Call(kpihost::EncodeClose(song->Remote), payload,
                         kpihost::ReplyLimit(kpihost::kClose));
        kpihost::DecodeEmptyReply(payload.data(), payload.size());
    } catch (const kpihost::EKpiHostProtocol& e) {
        song->Host->Finish(std::chrono::steady_clock::now());
        NoteFailure(e.what());
    } catch (const std::exception& e) {
        NoteFailure(e.what());
    }
}

uint32_t TZoKpiHostedPlugin::SetPosition(KPI_HANDLE handle, uint32_t positionMs)
{
    const std::shared_ptr<Song> song = FindSong(handle);
    if (!song || !song->Host->Alive())
        return 0;
    // The host's open ended with this very move, which TZoKpi makes after every open.
    if (song->AtStart && positionMs == 0)
        return 0;
    song->AtStart = false;
    // The plug-in moves; what it rendered ahead of the old place is no longer wanted.
    song->DropAhead();
    try {
        std::vector<uint8_t> payload;
        song->Host->Call(kpihost::EncodeSetPosition(song->Remote, positionMs), payload,
                         kpihost::ReplyLimit(kpihost::kSetPosition));
        return kpihost::DecodeSetPositionReply(payload.data(), payload.size());
    } catch (const kpihost::EKpiHostProtocol& e) {
        song->Host->Finish(std::chrono::steady_clock::now());
        NoteFailure(e.what());
    } catch (const std::exception& e) {
        NoteFailure(e.what());
    }
    return 0;
}

TZoSongInfo TZoKpiHostedPlugin::SongInfo(KPI_HANDLE handle)
{
    const std::shared_ptr<Song> song = FindSong(handle);
    if (!song || !song->Host->Alive())
        return {};
    try {
        std::vector<uint8_t> payload;
        song->Host->Call(kpihost::EncodeSongInfo(song->Remote), payload,
                         kpihost::ReplyLimit(kpihost::kSongInfo));
        return kpihost::DecodeSongInfoReply(payload.data(), payload.size());
    } catch (const kpihost::EKpiHostProtocol& e) {
        song->Host->Finish(std::chrono::steady_clock::now());
        NoteFailure(e.what());
    } catch (const std::exception& e) {
        NoteFailure(e.what());
    }
    return {};
}

void TZoKpiHostedPlugin::RenderFailed(const std::string& reason)
{
    NoteFailure(reason);
    throw EZoError(txt::Format(txt::Id::HostProcessFailed, {platform::ExtractFileName(FFileName)}),
                   reason);
}

void TZoKpiHostedPlugin::Share(Song& song)
{
    song.ShareAsked = true;
    std::string error;
    std::unique_ptr<platform::SharedMemory> memory =
        platform::SharedMemory::Create(kSharedBytes, error);
    // Without shared memory the bytes travel in the replies: slower, no less right.
    if (!memory)
        return;
    try {
        std::vector<uint8_t> payload;
        song.Host->Call(kpihost::EncodeShare(song.Remote, memory->Name(),
                                             TZoKpiHostPool::PathStyleFor(FKind), kSharedBytes),
                        payload, kpihost::ReplyLimit(kpihost::kShare));
        std::string reason;
        if (!kpihost::DecodeShareReply(payload.data(), payload.size(), reason))
            return;
    } catch (const kpihost::EKpiHostProtocol& e) {
        song.Host->Finish(std::chrono::steady_clock::now());
        RenderFailed(txt::Format(txt::Id::HostBrokeProtocol, {e.what()}));
    } catch (const EKpiHostFailed& e) {
        RenderFailed(e.what());
    }
    // Both sides have it mapped: the name is not needed any more.
    memory->RemoveName();
    song.Shared = std::move(memory);
}

void TZoKpiHostedPlugin::Request(Song& song, uint32_t blockSize, uint32_t maxBlocks)
{
    if (!song.ShareAsked)
        Share(song);
    const bool shared = song.Shared && blockSize > 0 && blockSize <= song.Shared->Size();
    kpihost::RenderRequest request;
    request.Handle = song.Remote;
    request.BlockSize = blockSize;
    request.MaxBlocks =
        shared ? std::max<uint32_t>(1, std::min<size_t>(maxBlocks, song.Shared->Size() / blockSize))
               : maxBlocks;
    song.DropAhead();
    try {
        song.Host->Call(
            kpihost::EncodeRender(request, shared), song.Payload,
            kpihost::ReplyLimit(shared ? kpihost::kRenderShared : kpihost::kRender, &request));
        kpihost::RenderReply reply =
            shared ? kpihost::DecodeSharedRenderReply(song.Payload.data(), song.Payload.size(),
                                                      request, song.Shared->Size())
                   : kpihost::DecodeRenderReply(song.Payload.data(), song.Payload.size(), request);
        song.Lengths = std::move(reply.Lengths);
        song.Data = shared ? song.Shared->Data() : song.Payload.data() + reply.DataOffset;
        song.NextOffset = 0;
        song.BlockSize = blockSize;
    } catch (const kpihost::EKpiHostProtocol& e) {
        song.Host->Finish(std::chrono::steady_clock::now());
        RenderFailed(txt::Format(txt::Id::HostBrokeProtocol, {e.what()}));
    } catch (const EKpiHostFailed& e) {
        RenderFailed(e.what());
    }
}

uint32_t TZoKpiHostedPlugin::RenderAhead(Song& song, uint8_t* buffer, uint32_t size)
{
    // The usual case: a block of the size the blocks ahead were rendered with, handed out
    // exactly as the plug-in returned it.
    if (song.HasAhead() && song.NextUsed == 0 && song.BlockSize == size) {
        const uint32_t length = song.Lengths[song.Next];
        std::memcpy(buffer, song.Data + song.NextOffset, length);
        song.NextOffset += length;
        ++song.Next;
        return length;
    }
    if (!song.HasAhead()) {
        Request(song, size,
                std::clamp<uint32_t>(kAheadBytes / std::max<uint32_t>(size, 1), 1,
                                     kpihost::kMaxBlocks));
        return RenderAhead(song, buffer, size);
    }
    // A render of another size while blocks are ahead: the bytes go on in order, and a short
    // block still ends the song where it ends.
    uint32_t done = 0;
    while (done < size && song.HasAhead()) {
        const uint32_t length = song.Lengths[song.Next];
        const uint32_t take = std::min(length - song.NextUsed, size - done);
        std::memcpy(buffer + done, song.Data + song.NextOffset + song.NextUsed, take);
        done += take;
        song.NextUsed += take;
        if (song.NextUsed == length) {
            const bool shortBlock = length < song.BlockSize;
            song.NextOffset += length;
            song.NextUsed = 0;
            ++song.Next;
            if (shortBlock)
                return done;
        }
    }
    if (done < size) {
        Request(song, size - done, 1);
        done += RenderAhead(song, buffer + done, size - done);
    }
    return done;
}

uint32_t TZoKpiHostedPlugin::Render(KPI_HANDLE handle, uint8_t* buffer, uint32_t size)
{
    const std::shared_ptr<Song> song = FindSong(handle);
    if (!song)
        return 0;
    if (!song->Host->Alive())
        RenderFailed(song->Host->DeathReason());
    if (size == 0)
        return 0;
    song->AtStart = false;
    // A block larger than one reply may carry goes in pieces; a short piece ends it.
    uint32_t done = 0;
    while (done < size) {
        const uint32_t piece = std::min(size - done, kpihost::kMaxRenderBytes);
        const uint32_t got = RenderAhead(*song, buffer + done, piece);
        done += got;
        if (got < piece)
            break;
    }
    return done;
}

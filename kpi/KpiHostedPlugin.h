// The far side of a TZoKpi whose plug-in runs in a host process: it reads the plug-in's record
// through the pool's loader host, starts a serving host at the first song and keeps it for the
// songs after, and forwards the song calls. It is TZoKpi's backend for such a plug-in.
//
// Each song open at a time has a serving host of its own, whether or not the plug-in is
// reentrant: a song that crashes or hangs its host then costs that song alone, never the songs
// beside it, and the songs of a batch run side by side without waiting for each other's calls.
// (A plug-in that is not reentrant could not share a host anyway.) Idle hosts stay for the songs
// after.
//
// Render moves data in large blocks: when the host is asked for one block it renders several
// in a row (as many as fit in about a megabyte, for a moment at most) and they are handed out
// from here one by one, with the same sizes and the same short last block that the plug-in
// gave. The host renders them into memory that the song shares with it, so that they need not
// travel through the pipe (where there is no such memory, they do). A seek or a close throws
// away what was rendered ahead.
//
// A serving host that dies takes its songs with it: their Render raises an error that names
// the plug-in, their other calls do nothing, and the next song starts a fresh host.
//
// Threads: songs are opened on one thread and rendered on another, and several songs may be
// opened and rendered at once (FLock guards the song table and the serving hosts, FHostLock the
// choice and start of a serving host); a song's own read-ahead is touched only by the one
// thread that uses that song at a time.
#pragma once

#include "kpi/KpiBackend.h"
#include "kpi/KpiHostPool.h"
#include "kpi/KpiInterface.h"
#include "kpi/KpiSongInfo.h"
#include "platform/ThreadAnnotations.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class TZoKpiHost;

class TZoKpiHostedPlugin final : public TZoKpiBackend {
public:
    TZoKpiHostedPlugin(std::shared_ptr<TZoKpiHostPool> pool, KpiHostKind kind,
                       const std::string& fileName);
    TZoKpiHostedPlugin(const TZoKpiHostedPlugin&) = delete;
    TZoKpiHostedPlugin& operator=(const TZoKpiHostedPlugin&) = delete;
    // Lets the serving host go; it runs the plug-in's Deinit as it ends.
    ~TZoKpiHostedPlugin() override;

    // The plug-in's record as the loader host read it (no entry in it is callable here); raises
    // what a load in this process would (EKpiLoadFailed with its code and reason, or EZoError).
    TZoKpiLibraryRecord Load() override;
    // The serving hosts call Init as they load the plug-in, and Deinit as they end.
    void Init() override {}
    void Deinit() override {}

    // The whole open of a song in the host, the plug-in module's own steps there included: a
    // handle of this side, or 0. format is written back as the plug-in left it; when the host
    // failed it stays as it was, and failure (if given) receives why.
    KPI_HANDLE Open(const std::string& fileName, SoundFormat& format,
                    std::string* failure = nullptr) override;
    void Close(KPI_HANDLE handle) override;
    // Raises EZoError, naming the plug-in, when the song's host has failed.
    uint32_t Render(KPI_HANDLE handle, uint8_t* buffer, uint32_t size) override;
    // A song that the host has just opened stands at its start already: a move to 0 before
    // anything else reaches it is answered here, with 0, without a call to the host.
    uint32_t SetPosition(KPI_HANDLE handle, uint32_t positionMs) override;
    // The song's own information as the plug-in in the host gives it; all empty when the host
    // has failed.
    TZoSongInfo SongInfo(KPI_HANDLE handle) override;
    // Each song open at a time has a host of its own.
    bool SongsShareProcess() const override { return false; }

    KpiHostKind Kind() const { return FKind; }
    // Why the last call that reached no plug-in failed; "" while none has.
    std::string LastFailure() const;
    // The first live serving host's process id, or -1 while there is none.
    int64_t ServingProcessId() const;
    // The process id of the host that serves the song, or -1.
    int64_t ServingProcessId(KPI_HANDLE handle) const;
    // Serving hosts that are alive now.
    int ServingHosts() const;

private:
    struct Song;
    std::shared_ptr<Song> FindSong(KPI_HANDLE handle) const EXCLUDES(FLock);
    // A live host with no song, started when none is idle; the caller owns its song place until
    // it calls Vacate or files the song in Songs.
    std::shared_ptr<TZoKpiHost> ServingHost() EXCLUDES(FHostLock, FLock);
    void Vacate(const std::shared_ptr<TZoKpiHost>& host) EXCLUDES(FLock);
    uint32_t RenderAhead(Song& song, uint8_t* buffer, uint32_t size);
    void Request(Song& song, uint32_t blockSize, uint32_t maxBlocks);
    // Gives the song a region of shared memory that the host renders into, when both can.
    void Share(Song& song);
    [[noreturn]] void RenderFailed(const std::string& reason);
    void NoteFailure(const std::string& reason) EXCLUDES(FLock);

    std::shared_ptr<TZoKpiHostPool> FPool;
    KpiHostKind FKind;
    std::string FFileName;

    // Held while a serving host is chosen or starts; FLock is taken inside it.
    platform::Mutex FHostLock;
    mutable platform::Mutex FLock ACQUIRED_AFTER(FHostLock);
    struct Serving {
        std::shared_ptr<TZoKpiHost> Host;
        int Songs = 0; // open, or being opened: 0 or 1
    };
    std::vector<Serving> FHosts GUARDED_BY(FLock);
    std::map<KPI_HANDLE, std::shared_ptr<Song>> FSongs GUARDED_BY(FLock);
    KPI_HANDLE FNextHandle GUARDED_BY(FLock) = 1;
    std::string FLastFailure GUARDED_BY(FLock);
};

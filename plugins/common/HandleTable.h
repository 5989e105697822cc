// Song handles of a reference plug-in. The interface passes songs as 32-bit numbers, too
// narrow for a pointer, so each plug-in keeps a table from handle to song.
//
// Open and Close arrive on the main thread while Render runs on a decoder thread, so the table
// is locked. A song is handed out as a shared pointer: a Close that races a Render still
// running on another thread takes the song out of the table but cannot free it under that
// Render.
#pragma once

#include "kpi/KpiInterface.h"

#include <memory>
#include <mutex>
#include <unordered_map>

namespace kpiplugin {

template <class Song> class HandleTable {
public:
    // Never 0, never a handle in use, even after the counter wraps.
    KPI_HANDLE Add(std::shared_ptr<Song> song)
    {
        std::lock_guard lock(FMutex);
        while (FNext == 0 || FSongs.count(FNext) != 0)
            ++FNext;
        const KPI_HANDLE handle = FNext++;
        FSongs.emplace(handle, std::move(song));
        return handle;
    }

    std::shared_ptr<Song> Find(KPI_HANDLE handle) const
    {
        std::lock_guard lock(FMutex);
        const auto it = FSongs.find(handle);
        return it == FSongs.end() ? nullptr : it->second;
    }

    std::shared_ptr<Song> Remove(KPI_HANDLE handle)
    {
        std::lock_guard lock(FMutex);
        const auto it = FSongs.find(handle);
        if (it == FSongs.end())
            return nullptr;
        std::shared_ptr<Song> song = std::move(it->second);
        FSongs.erase(it);
        return song;
    }

private:
    mutable std::mutex FMutex;
    std::unordered_map<KPI_HANDLE, std::shared_ptr<Song>> FSongs;
    KPI_HANDLE FNext = 1;
};

} // namespace kpiplugin

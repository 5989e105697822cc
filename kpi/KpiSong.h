// One audio file opened through one plug-in. Construction opens it; a failed open leaves a
// song with no handle, which renders nothing. The song counts the bytes it rendered and turns
// them into a position in milliseconds.
//
// Threads: a song takes no lock. It is made, inspected and sought on the thread that opens songs
// (the main thread), then handed whole to one decoder thread, which alone renders it; the main
// thread reads Position only while that thread waits for it (progress calls). Whoever holds the
// song last destroys it, which closes the plug-in's handle.
#pragma once

#include "kpi/KpiInterface.h"

#include <cstdint>
#include <functional>
#include <string>

class TZoKpi;

class TZoSong {
public:
    TZoSong(const std::string& fileName, TZoKpi& plugin);
    // Starts from a copy of requested, the format asked of the plug-in.
    TZoSong(const std::string& fileName, TZoKpi& plugin, const SoundFormat& requested);
    TZoSong(const TZoSong&) = delete;
    TZoSong& operator=(const TZoSong&) = delete;
    ~TZoSong();

    void Open(const std::string& fileName);
    void Close();
    // Renders up to size bytes; a shorter result marks the end of the song.
    uint32_t Render(uint8_t* buffer, uint32_t size);
    // Milliseconds rendered since construction or the last Seek.
    uint32_t Position() const { return BytesToMilliseconds(BytesRendered); }
    uint32_t BytesPerSecond() const;
    // bytes / BytesPerSecond * 1000 in extended precision, truncated. 0 when BytesPerSecond
    // is 0; values beyond 32 bits give 0xFFFFFFFE (0xFFFFFFFF means "no length").
    uint32_t BytesToMilliseconds(uint32_t bytes) const;
    // Moves to second n, or selects song n of a multi-song file.
    void Seek(uint32_t n);
    bool IsEndless() const { return Format.Endless != 0; }
    bool IsMultiSong() const { return Format.MultiSong != 0; }
    const std::string& PluginFileName() const;

    TZoKpi& Plugin;
    std::string FileName;
    // The requested format before Open; the format the plug-in answered after it.
    SoundFormat Format{};
    uint32_t BytesRendered = 0; // wraps modulo 2^32
    KPI_HANDLE Handle = 0;      // 0 when the open failed or after Close
    // Why the open failed when more than the plug-in's refusal says so (its host ended, did not
    // answer, or broke the protocol); "" otherwise.
    std::string OpenFailure;
    bool Ended = false;
    // Called each time a render comes back short.
    std::function<void(TZoSong&)> OnEnded;
};

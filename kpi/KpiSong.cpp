#include "kpi/KpiSong.h"

#include "kpi/KPI.h"

TZoSong::TZoSong(const std::string& fileName, TZoKpi& plugin) : Plugin(plugin)
{
    Open(fileName);
}

TZoSong::TZoSong(const std::string& fileName, TZoKpi& plugin, const SoundFormat& requested)
    : Plugin(plugin), Format(requested)
{
    Open(fileName);
}

TZoSong::~TZoSong()
{
    if (Handle != 0)
        Close();
}

void TZoSong::Open(const std::string& fileName)
{
    FileName = fileName;
    OpenFailure.clear();
    Handle = Plugin.OpenSong(FileName, &Format, &OpenFailure);
    Ended = false;
}

TZoSongInfo TZoSong::Info() const
{
    return Plugin.SongInfo(Handle);
}

void TZoSong::Close()
{
    Plugin.CloseSong(Handle);
    Handle = 0;
}

uint32_t TZoSong::Render(uint8_t* buffer, uint32_t size)
{
    const uint32_t n = Plugin.Render(Handle, buffer, size);
    BytesRendered += n;
    if (n < size) {
        Ended = true;
        if (OnEnded)
            OnEnded(*this);
    }
    return n;
}

uint32_t TZoSong::BytesPerSecond() const
{
    return (Format.BitsPerSample / 8) * Format.SampleRate * Format.Channels;
}

uint32_t TZoSong::BytesToMilliseconds(uint32_t bytes) const
{
    const uint32_t perSecond = BytesPerSecond();
    if (perSecond == 0)
        return 0;
    // The division comes first, in extended precision; the result is therefore sometimes one
    // below the exact quotient (192 bytes at 192000 bytes per second give 0).
    const long double ms =
        static_cast<long double>(bytes) / static_cast<long double>(perSecond) * 1000.0L;
    if (ms >= 4294967295.0L)
        return 0xFFFFFFFEu;
    return static_cast<uint32_t>(ms);
}

void TZoSong::Seek(uint32_t n)
{
    Plugin.SetPosition(Handle, n * 1000u);
    Ended = false;
    BytesRendered = 0;
}

const std::string& TZoSong::PluginFileName() const
{
    return Plugin.FileName();
}

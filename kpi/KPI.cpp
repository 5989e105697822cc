#include "kpi/KPI.h"

#include "kpi/KpiHostedPlugin.h"
#include "kpi/KpiInProcess.h"
#include "platform/FileSystem.h"
#include "platform/LittleEndian.h"

#ifdef _WIN32
#include "platform/WindowsText.h"
#endif

#include <algorithm>
#include <cctype>

int CompareTextIgnoringCase(const std::string& a, const std::string& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

TZoKpi::TZoKpi(const std::string& fileName)
    : TZoKpi(fileName, std::make_unique<TZoKpiInProcess>(fileName))
{}

TZoKpi::TZoKpi(const std::string& fileName, std::shared_ptr<TZoKpiHostPool> pool, KpiHostKind kind)
    : TZoKpi(fileName, std::make_unique<TZoKpiHostedPlugin>(std::move(pool), kind, fileName))
{}

TZoKpi::TZoKpi(const std::string& fileName, std::unique_ptr<TZoKpiBackend> backend)
    : FFileName(fileName), FBackend(std::move(backend))
{
    Load();
}

TZoKpi::~TZoKpi()
{
    if (!FNotLoaded)
        FBackend->Deinit();
    FBackend.reset();
}

TZoKpiHostedPlugin* TZoKpi::Hosted() const
{
    return dynamic_cast<TZoKpiHostedPlugin*>(FBackend.get());
}

void TZoKpi::Load()
{
    if (!FNotLoaded)
        return;
    if (FFileName.empty())
        throw EZoError("szFileName == nil");

    // A failure of the backend's load gives back what it took; one of the checks below escapes
    // from the constructor, whose end destroys the backend and unloads the library with it.
    TZoKpiLibraryRecord record = FBackend->Load();
    FFileTime = platform::FileDosDateTime(FFileName);
    if (record.Module.InterfaceVersion != KPI_INTERFACE_VERSION)
        throw EKpiLoadFailed(
            EKpiLoadFailed::kBadVersion,
            txt::Format(txt::Id::LoadBadVersion, {std::to_string(record.Module.InterfaceVersion),
                                                  std::to_string(KPI_INTERFACE_VERSION)}));
    if (!record.Extensions)
        throw EKpiLoadFailed(EKpiLoadFailed::kNilExtensions,
                             txt::Text(txt::Id::LoadNoExtensionList));
    // The backend calls these without further checks once a plug-in is in use.
    if (record.MissingEntry != nullptr)
        throw EKpiLoadFailed(EKpiLoadFailed::kNilRequiredEntry,
                             txt::Format(txt::Id::LoadNoRequiredEntry, {record.MissingEntry}));

    FModule = record.Module;
    FHasSongInfo = record.HasSongInfo;
    FHasOpenError = record.HasOpenError;
    FExtensions = std::move(*record.Extensions);
    std::stable_sort(FExtensions.begin(), FExtensions.end(),
                     [](const std::string& a, const std::string& b) {
                         return CompareTextIgnoringCase(a, b) < 0;
                     });
    FOpenCount.store(0);
    FNotLoaded = false;
    FBackend->Init();
}

bool TZoKpi::HasExtension(const std::string& ext) const
{
    const auto it = std::lower_bound(FExtensions.begin(), FExtensions.end(), ext,
                                     [](const std::string& item, const std::string& key) {
                                         return CompareTextIgnoringCase(item, key) < 0;
                                     });
    return it != FExtensions.end() && CompareTextIgnoringCase(*it, ext) == 0;
}

KPI_HANDLE TZoKpi::OpenSong(const std::string& fileName, SoundFormat* format, std::string* failure)
{
    if (failure != nullptr)
        failure->clear();
    if (FNotLoaded)
        Load();
    if (format == nullptr)
        return 0;
    // A plug-in that is not reentrant has one song slot in this process, taken before the call
    // so that two threads cannot both find it free. In host processes it has one per host, and
    // the hosted backend starts a host for each song open at the same time.
    const bool oneSong = OneSongAtATime();
    if (oneSong) {
        int32_t free = 0;
        if (!FOpenCount.compare_exchange_strong(free, 1))
            return 0;
    }
    const KPI_HANDLE handle = FBackend->Open(fileName, *format, failure);
    const bool noFormat =
        format->SampleRate == 0 && format->Channels == 0 && format->BitsPerSample == 0;
    if (handle != 0 && noFormat)
        FBackend->Close(handle);
    if (handle == 0 || noFormat) {
        if (oneSong)
            --FOpenCount;
        return 0;
    }
    FBackend->SetPosition(handle, 0);
    if (!oneSong)
        ++FOpenCount;
    return handle;
}

TZoSongInfo TZoKpi::SongInfo(KPI_HANDLE handle)
{
    if (handle == 0)
        return {};
    return FBackend->SongInfo(handle);
}

void TZoKpi::CloseSong(KPI_HANDLE handle)
{
    if (handle == 0)
        return;
    FBackend->Close(handle);
    --FOpenCount;
}

uint32_t TZoKpi::Render(KPI_HANDLE handle, uint8_t* buffer, uint32_t size)
{
    if (handle == 0)
        return 0;
    // A plug-in that claims more than it was given space for cannot have written it there.
    return std::min(FBackend->Render(handle, buffer, size), size);
}

uint32_t TZoKpi::SetPosition(KPI_HANDLE handle, uint32_t positionMs)
{
    if (handle == 0)
        return 0;
    return FBackend->SetPosition(handle, positionMs);
}

std::string TZoKpi::ExtensionText() const
{
    // A lone empty item must still be visible in the text; among others it stays empty.
    if (FExtensions.size() == 1 && FExtensions[0].empty())
        return "\"\"";
    std::string text;
    for (size_t i = 0; i < FExtensions.size(); ++i) {
        if (i > 0)
            text += '/';
        const std::string& item = FExtensions[i];
        const bool quote = std::any_of(item.begin(), item.end(), [](char c) {
            return static_cast<unsigned char>(c) <= 32 || c == '"' || c == '/';
        });
        if (!quote) {
            text += item;
            continue;
        }
        text += '"';
        for (char c : item) {
            if (c == '"')
                text += '"';
            text += c;
        }
        text += '"';
    }
    return text;
}

void TZoKpi::WriteCacheRecord(std::string& stream) const
{
    const auto appendShortText = [&stream](const std::string& text) {
        const size_t n = std::min<size_t>(text.size(), 255);
        le::Append8(stream, static_cast<uint8_t>(n));
        stream.append(text, 0, n);
    };
    le::Append32(stream, static_cast<uint32_t>(FFileTime));
    le::Append32(stream, FModule.PluginVersion);
    le::Append8(stream, Enabled ? 1 : 0);
#ifdef _WIN32
    // The cache's texts are in the ANSI code page, as every name a plug-in of the host player
    // sees; a name that it cannot hold is written as its short name.
    appendShortText(platform::AnsiFileName(platform::Utf8ToWide(FFileName)));
#else
    appendShortText(FFileName);
#endif
    appendShortText(ExtensionText());
}

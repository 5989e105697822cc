#include "kpi/KPI.h"

#include "kpi/KpiHostedPlugin.h"
#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"
#include "platform/LittleEndian.h"
#include "platform/WindowsText.h"

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

TZoKpi::TZoKpi(const std::string& fileName) : FFileName(fileName)
{
    Load();
}

TZoKpi::TZoKpi(const std::string& fileName, std::shared_ptr<TZoKpiHostPool> pool, KpiHostKind kind)
    : FFileName(fileName)
{
    if (!FFileName.empty())
        FHosted = std::make_unique<TZoKpiHostedPlugin>(std::move(pool), kind, FFileName);
    Load();
}

TZoKpi::~TZoKpi()
{
    // A hosted plug-in's Deinit runs in its host, which is asked to end.
    if (!FNotLoaded && !FHosted && FModule.Deinit != nullptr)
        FModule.Deinit();
    FHosted.reset();
    FLibraryHandle.reset();
}

void TZoKpi::Load()
{
    if (!FNotLoaded)
        return;
    if (FFileName.empty())
        throw EZoError("szFileName == nil");
    if (FHosted) {
        LoadHosted();
        return;
    }

    // Owned from the first moment: any failure below unloads it again before escaping.
    std::string loaderError;
    std::unique_ptr<platform::DynamicLibrary> library =
        platform::DynamicLibrary::Load(FFileName, loaderError);
    if (!library)
        throw EKpiLoadFailed(EKpiLoadFailed::kCannotLoad, loaderError);

    FFileTime = platform::FileDosDateTime(FFileName);

    const auto getModule = reinterpret_cast<KpiGetModuleProc>(library->Symbol(KPI_ENTRY_NAME));
    if (getModule == nullptr)
        throw EKpiLoadFailed(EKpiLoadFailed::kNoEntry, "no export " KPI_ENTRY_NAME);
    const KpiModule* module = getModule();
    if (module == nullptr)
        throw EKpiLoadFailed(EKpiLoadFailed::kNilModule, KPI_ENTRY_NAME " returned nil");
    FModule = *module;
    if (FModule.InterfaceVersion != KPI_INTERFACE_VERSION)
        throw EKpiLoadFailed(EKpiLoadFailed::kBadVersion,
                             "interface version " + std::to_string(FModule.InterfaceVersion) +
                                 " (" + std::to_string(KPI_INTERFACE_VERSION) + " needed)");
    if (FModule.SupportedExtensions == nullptr)
        throw EKpiLoadFailed(EKpiLoadFailed::kNilExtensions, "no extension list");
    // The host calls these without further checks once a plug-in is in use.
    const std::pair<bool, const char*> required[] = {
        {FModule.Open == nullptr, "Open"},
        {FModule.Close == nullptr, "Close"},
        {FModule.Render == nullptr, "Render"},
        {FModule.SetPosition == nullptr, "SetPosition"}};
    for (const auto& [missing, name] : required)
        if (missing)
            throw EKpiLoadFailed(EKpiLoadFailed::kNilRequiredEntry,
                                 std::string("no ") + name + " entry");

    FExtensions.clear();
    for (const char* const* entry = FModule.SupportedExtensions; *entry != nullptr; ++entry)
        if ((*entry)[0] == '.')
            FExtensions.emplace_back(*entry + 1);
    std::stable_sort(FExtensions.begin(), FExtensions.end(),
                     [](const std::string& a, const std::string& b) {
                         return CompareTextIgnoringCase(a, b) < 0;
                     });

    FLibraryHandle = std::move(library);
    FOpenCount.store(0);
    FNotLoaded = false;
    if (FModule.Init != nullptr)
        FModule.Init();
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
    if (FNotLoaded)
        Load();
    if (format == nullptr)
        return 0;
    // A plug-in that is not reentrant has one song slot in this process, taken before the call
    // so that two threads cannot both find it free. In host processes it has one per host, and
    // the hosted side starts a host for each song open at the same time.
    const bool oneSong = FModule.Reentrant == 0 && !FHosted;
    if (oneSong) {
        int32_t free = 0;
        if (!FOpenCount.compare_exchange_strong(free, 1))
            return 0;
    }
    const auto failed = [this, oneSong] {
        if (oneSong)
            --FOpenCount;
        return KPI_HANDLE(0);
    };
    // A host goes through the same steps as below, with its own plug-in module.
    const KPI_HANDLE handle =
        FHosted ? FHosted->Open(fileName, *format, failure) : OpenInProcess(fileName, format);
    if (handle == 0)
        return failed();
    if (!oneSong)
        ++FOpenCount;
    return handle;
}

KPI_HANDLE TZoKpi::OpenInProcess(const std::string& fileName, SoundFormat* format)
{
#ifdef _WIN32
    // Plug-ins of the host player take names in the ANSI code page; a name that it cannot hold
    // goes as its short 8.3 name, which any code page holds.
    const std::string passed = platform::AnsiFileName(platform::Utf8ToWide(fileName));
#else
    const std::string& passed = fileName;
#endif
    const KPI_HANDLE handle = FModule.Open(passed.c_str(), format);
    if (handle == 0)
        return 0;
    if (format->SampleRate == 0 && format->Channels == 0 && format->BitsPerSample == 0) {
        FModule.Close(handle);
        return 0;
    }
    FModule.SetPosition(handle, 0);
    return handle;
}

void TZoKpi::CloseSong(KPI_HANDLE handle)
{
    if (handle == 0)
        return;
    if (FHosted)
        FHosted->Close(handle);
    else
        FModule.Close(handle);
    --FOpenCount;
}

uint32_t TZoKpi::Render(KPI_HANDLE handle, uint8_t* buffer, uint32_t size)
{
    if (handle == 0)
        return 0;
    const uint32_t written =
        FHosted ? FHosted->Render(handle, buffer, size) : FModule.Render(handle, buffer, size);
    // A plug-in that claims more than it was given space for cannot have written it there.
    return std::min(written, size);
}

uint32_t TZoKpi::SetPosition(KPI_HANDLE handle, uint32_t positionMs)
{
    if (handle == 0)
        return 0;
    return FHosted ? FHosted->SetPosition(handle, positionMs)
                   : FModule.SetPosition(handle, positionMs);
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

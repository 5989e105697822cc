#include "kpi/KpiInProcess.h"

#include "kpi/KpiLoadFailed.h"
#include "platform/CodePages.h"
#include "platform/DynamicLibrary.h"
#include "platform/WindowsText.h"

#include <algorithm>

namespace {

// A text that a plug-in copies into a buffer of ours: asked for again with room for all of it
// when it did not fit, and never read past what the plug-in may have written or its first NUL.
// A Windows plug-in writes its process's ANSI code page.
template <class Copy> std::string FetchPluginText(Copy copy, size_t limit)
{
    std::string buffer(256, '\0');
    uint32_t length = copy(buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (length >= buffer.size()) {
        // One byte beyond the limit, so that a cut can tell where its last character ends.
        buffer.assign(std::min<size_t>(length, limit + 1) + 1, '\0');
        length = copy(buffer.data(), static_cast<uint32_t>(buffer.size()));
    }
    const auto end = buffer.begin() + std::min<size_t>(length, buffer.size() - 1);
    std::string text(buffer.begin(), std::find(buffer.begin(), end, '\0'));
#ifdef _WIN32
    text = platform::WideToUtf8(platform::AnsiToWide(text));
#endif
    return CutText(std::move(text), limit);
}

} // namespace

std::string OneLineText(const std::string& text, size_t limit)
{
    std::string line = platform::SystemTextOf(text);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    const size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    line = line.substr(first, line.find_last_not_of(' ') - first + 1);
    return CutText(std::move(line), limit);
}

TZoKpiInProcess::TZoKpiInProcess(std::string fileName) : FFileName(std::move(fileName)) {}

TZoKpiInProcess::~TZoKpiInProcess() = default;

TZoKpiLibraryRecord TZoKpiInProcess::Load()
{
    // Owned from the first moment: any failure below unloads it again before escaping.
    std::string loaderError;
    std::unique_ptr<platform::DynamicLibrary> library =
        platform::DynamicLibrary::Load(FFileName, loaderError);
    if (!library)
        throw EKpiLoadFailed(EKpiLoadFailed::kCannotLoad, loaderError);
    const auto getModule = reinterpret_cast<KpiGetModuleProc>(library->Symbol(KPI_ENTRY_NAME));
    if (getModule == nullptr)
        throw EKpiLoadFailed(EKpiLoadFailed::kNoEntry,
                             txt::Format(txt::Id::LoadNoEntry, {KPI_ENTRY_NAME}));
    const KpiModule* module = getModule();
    if (module == nullptr)
        throw EKpiLoadFailed(EKpiLoadFailed::kNilModule,
                             txt::Format(txt::Id::LoadNilModule, {KPI_ENTRY_NAME}));

    TZoKpiLibraryRecord record;
    record.Module = *module;
    if (const char* const* entry = record.Module.SupportedExtensions; entry != nullptr) {
        record.Extensions.emplace();
        for (; *entry != nullptr; ++entry)
            if ((*entry)[0] == '.')
                record.Extensions->emplace_back(*entry + 1);
    }
    const std::pair<bool, const char*> required[] = {
        {record.Module.Open == nullptr, "Open"},
        {record.Module.Close == nullptr, "Close"},
        {record.Module.Render == nullptr, "Render"},
        {record.Module.SetPosition == nullptr, "SetPosition"}};
    for (const auto& [missing, name] : required)
        if (missing && record.MissingEntry == nullptr)
            record.MissingEntry = name;

    // The optional entries: a plug-in without them works as it always has.
    FGetSongInfo =
        reinterpret_cast<PellanGetSongInfoProc>(library->Symbol(PELLAN_SONG_INFO_ENTRY_NAME));
    FGetOpenError =
        reinterpret_cast<PellanGetOpenErrorProc>(library->Symbol(PELLAN_OPEN_ERROR_ENTRY_NAME));
    record.HasSongInfo = FGetSongInfo != nullptr;
    record.HasOpenError = FGetOpenError != nullptr;
    FModule = record.Module;
    FLibrary = std::move(library);
    return record;
}

void TZoKpiInProcess::Init()
{
    if (FModule.Init != nullptr)
        FModule.Init();
}

void TZoKpiInProcess::Deinit()
{
    if (FModule.Deinit != nullptr)
        FModule.Deinit();
}

KPI_HANDLE TZoKpiInProcess::Open(const std::string& fileName, SoundFormat& format,
                                 std::string* failure)
{
#ifdef _WIN32
    // Plug-ins of the host player take names in the ANSI code page; a name that it cannot hold
    // goes as its short 8.3 name, which any code page holds.
    const std::string passed = platform::AnsiFileName(platform::Utf8ToWide(fileName));
#else
    const std::string& passed = fileName;
#endif
    const KPI_HANDLE handle = FModule.Open(passed.c_str(), &format);
    const bool noFormat =
        format.SampleRate == 0 && format.Channels == 0 && format.BitsPerSample == 0;
    // The reason is asked for on this thread before anything else reaches the plug-in.
    if ((handle == 0 || noFormat) && failure != nullptr && FGetOpenError != nullptr)
        *failure = OneLineText(
            FetchPluginText(
                [this](char* buffer, uint32_t size) { return FGetOpenError(buffer, size); },
                kMaxOpenFailureText),
            kMaxOpenFailureText);
    return handle;
}

void TZoKpiInProcess::Close(KPI_HANDLE handle)
{
    FModule.Close(handle);
}

uint32_t TZoKpiInProcess::Render(KPI_HANDLE handle, uint8_t* buffer, uint32_t size)
{
    return FModule.Render(handle, buffer, size);
}

uint32_t TZoKpiInProcess::SetPosition(KPI_HANDLE handle, uint32_t positionMs)
{
    return FModule.SetPosition(handle, positionMs);
}

TZoSongInfo TZoKpiInProcess::SongInfo(KPI_HANDLE handle)
{
    TZoSongInfo info;
    if (FGetSongInfo == nullptr)
        return info;
    uint32_t field = PELLAN_INFO_TITLE;
    for (std::string* text : info.Fields()) {
        *text = FetchPluginText(
            [&](char* buffer, uint32_t size) { return FGetSongInfo(handle, field, buffer, size); },
            kMaxSongInfoText);
        ++field;
    }
    return info;
}

// A plug-in library loaded into this process: its entries are called directly, on the caller's
// thread.
#pragma once

#include "kpi/KpiBackend.h"
#include "kpi/KpiExtension.h"

#include <memory>
#include <string>

namespace platform {
class DynamicLibrary;
}

class TZoKpiInProcess final : public TZoKpiBackend {
public:
    explicit TZoKpiInProcess(std::string fileName);
    // Unloads the library.
    ~TZoKpiInProcess() override;

    TZoKpiLibraryRecord Load() override;
    void Init() override;
    void Deinit() override;
    KPI_HANDLE Open(const std::string& fileName, SoundFormat& format,
                    std::string* failure) override;
    void Close(KPI_HANDLE handle) override;
    uint32_t Render(KPI_HANDLE handle, uint8_t* buffer, uint32_t size) override;
    uint32_t SetPosition(KPI_HANDLE handle, uint32_t positionMs) override;
    TZoSongInfo SongInfo(KPI_HANDLE handle) override;
    bool SongsShareProcess() const override { return true; }

private:
    std::string FFileName;
    std::unique_ptr<platform::DynamicLibrary> FLibrary;
    KpiModule FModule{};
    // The optional entries, looked up by name after the load; nil where the library has none.
    PellanGetSongInfoProc FGetSongInfo = nullptr;
    PellanGetOpenErrorProc FGetOpenError = nullptr;
};

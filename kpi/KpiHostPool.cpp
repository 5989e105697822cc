#include "kpi/KpiHostPool.h"

#include "kpi/KpiHostProcess.h"
#include "kpi/KpiLoadFailed.h"
#include "kpi/KpiWine.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <cstdlib>
#include <filesystem>

// Where the hosts are installed, relative to the program's folder; a build that does not say
// keeps them beside the program, as a Windows installation does.
#ifndef PELLAN_HOST_FOLDER
#define PELLAN_HOST_FOLDER "."
#endif

namespace {

using Clock = std::chrono::steady_clock;

std::string DefaultHostFolder()
{
    const std::filesystem::path folder =
        platform::FileSystemPath(platform::ExecutableFolder()) / PELLAN_HOST_FOLDER;
    return platform::ExcludeTrailingDelimiter(platform::PathText(folder.lexically_normal()));
}

} // namespace

std::optional<KpiHostKind> ChooseHost(platform::LibraryFormat format, bool isolate)
{
    using platform::LibraryFormat;
#ifdef _WIN32
    // A DLL of this process's own machine loads here; one of the other bitness needs its host.
    if (format == platform::ThisProcessPeFormat())
        return isolate ? std::optional(KpiHostKind::Native) : std::nullopt;
#else
    if (format == LibraryFormat::ElfThisMachine)
        return isolate ? std::optional(KpiHostKind::Native) : std::nullopt;
#endif
    if (format == LibraryFormat::PeX86)
        return KpiHostKind::Windows32;
    if (format == LibraryFormat::PeX64)
        return KpiHostKind::Windows64;
    return std::nullopt;
}

TZoKpiHostPool::TZoKpiHostPool(TZoKpiHostSettings settings) : FSettings(std::move(settings))
{
    if (FSettings.HostFolder.empty())
        FSettings.HostFolder = DefaultHostFolder();
}

TZoKpiHostPool::~TZoKpiHostPool()
{
    std::vector<std::shared_ptr<TZoKpiHost>> hosts = std::move(FRetired);
    for (auto& [kind, loader] : FLoaders)
        if (loader)
            hosts.push_back(std::move(loader));
    // All are asked first and waited for together: their plug-ins shut down side by side.
    for (const auto& host : hosts)
        host->RequestExit();
    const auto deadline = Clock::now() + FSettings.CallTimeLimit;
    for (const auto& host : hosts)
        host->Finish(deadline);
}

const char* TZoKpiHostPool::HostProgramName(KpiHostKind kind)
{
    switch (kind) {
    case KpiHostKind::Windows32:
        return "pellan-kpi-host32.exe";
    case KpiHostKind::Windows64:
        return "pellan-kpi-host64.exe";
    case KpiHostKind::Native:
        break;
    }
#ifdef _WIN32
    return sizeof(void*) == 8 ? "pellan-kpi-host64.exe" : "pellan-kpi-host32.exe";
#else
    return "pellan-kpi-host";
#endif
}

std::string TZoKpiHostPool::HostProgramPath(KpiHostKind kind) const
{
    return platform::IncludeTrailingDelimiter(FSettings.HostFolder) + HostProgramName(kind);
}

kpihost::PathStyle TZoKpiHostPool::PathStyleFor(KpiHostKind kind)
{
#ifdef _WIN32
    (void)kind;
    return kpihost::PathStyle::Native;
#else
    return kind == KpiHostKind::Native ? kpihost::PathStyle::Native : kpihost::PathStyle::Unix;
#endif
}

int TZoKpiHostPool::StartedHosts() const
{
    platform::MutexLock lock(FLock);
    return FStarted;
}

std::shared_ptr<TZoKpiHost> TZoKpiHostPool::StartHost(KpiHostKind kind)
{
    if (const auto it = FCannotStart.find(kind); it != FCannotStart.end())
        throw EKpiLoadFailed(EKpiLoadFailed::kCannotLoad, it->second);

    TZoKpiHost::Launch launch;
    launch.Name = HostProgramName(kind);
    const std::string program = HostProgramPath(kind);
#ifndef _WIN32
    if (kind != KpiHostKind::Native) {
        // Looked for once: a folder of Windows plug-ins does not search PATH again and again.
        if (!FWineLooked) {
            const char* path = std::getenv("PATH");
            const kpihost::WineLoaders wine =
                kpihost::FindWine(FSettings.SearchPath.value_or(path != nullptr ? path : ""));
            FWine32 = wine.Wine32;
            FWine64 = wine.Wine64;
            FWineLooked = true;
        }
        const std::string& loader = kind == KpiHostKind::Windows32 ? FWine32 : FWine64;
        if (loader.empty())
            throw EKpiLoadFailed(EKpiLoadFailed::kCannotLoad, txt::Text(txt::Id::HostNeedsWine));
        launch.Arguments.push_back(loader);
        launch.Environment = kpihost::WineEnvironment();
    }
#endif
    if (!platform::IsRegularFile(program))
        throw EKpiLoadFailed(EKpiLoadFailed::kCannotLoad,
                             txt::Format(txt::Id::HostProgramMissing, {program}));
    launch.Arguments.push_back(program);
    ++FStarted;
    try {
        auto host = std::make_shared<TZoKpiHost>(launch, FSettings.CallTimeLimit);
        platform::MutexLock started(FStartedLock);
        std::erase_if(FStartedHosts, [](const auto& known) { return known.expired(); });
        FStartedHosts.push_back(host);
        return host;
    } catch (const EKpiHostFailed& e) {
        FCannotStart[kind] = e.what();
        throw EKpiLoadFailed(EKpiLoadFailed::kCannotLoad, e.what());
    }
}

void TZoKpiHostPool::KillBusyHosts()
{
    platform::MutexLock started(FStartedLock);
    for (const auto& known : FStartedHosts)
        if (const std::shared_ptr<TZoKpiHost> host = known.lock())
            host->KillIfBusy();
}

void TZoKpiHostPool::ReapRetired()
{
    // Hosts that have ended are dropped; the others are looked at again next time.
    std::erase_if(FRetired, [](const std::shared_ptr<TZoKpiHost>& host) { return host->Ended(); });
}

kpihost::LoadResult TZoKpiHostPool::Probe(KpiHostKind kind, const std::string& path)
{
    platform::MutexLock lock(FLock);
    std::shared_ptr<TZoKpiHost>& loader = FLoaders[kind];
    if (!loader || !loader->Alive())
        loader = StartHost(kind);
    std::vector<uint8_t> payload;
    try {
        loader->Call(kpihost::EncodeLoad(kpihost::kProbe, path, PathStyleFor(kind)), payload,
                     kpihost::ReplyLimit(kpihost::kProbe));
        return kpihost::DecodeLoadResult(payload.data(), payload.size());
    } catch (const EZoError& e) {
        // A reply that breaks the protocol leaves the host in an unknown state: it goes.
        loader.reset();
        throw EKpiLoadFailed(EKpiLoadFailed::kCannotLoad,
                             txt::Format(txt::Id::HostFailedOnPlugin, {e.what()}));
    }
}

std::shared_ptr<TZoKpiHost> TZoKpiHostPool::Serve(KpiHostKind kind, const std::string& path,
                                                  kpihost::LoadResult& result)
{
    std::shared_ptr<TZoKpiHost> host;
    {
        platform::MutexLock lock(FLock);
        std::shared_ptr<TZoKpiHost>& loader = FLoaders[kind];
        if (loader && loader->Alive())
            host = std::move(loader);
        else
            host = StartHost(kind);
        loader.reset();
    }
    std::vector<uint8_t> payload;
    host->Call(kpihost::EncodeLoad(kpihost::kLoad, path, PathStyleFor(kind)), payload,
               kpihost::ReplyLimit(kpihost::kLoad));
    try {
        result = kpihost::DecodeLoadResult(payload.data(), payload.size());
    } catch (const kpihost::EKpiHostProtocol& e) {
        host->Finish(Clock::now());
        throw EKpiHostFailed(EKpiHostFailed::Cause::BadReply,
                             txt::Format(txt::Id::HostBrokeProtocol, {e.what()}));
    }
    if (!result.Loaded) {
        Retire(std::move(host));
        return nullptr;
    }
    return host;
}

void TZoKpiHostPool::Retire(std::shared_ptr<TZoKpiHost> host)
{
    if (!host)
        return;
    host->RequestExit();
    platform::MutexLock lock(FLock);
    ReapRetired();
    FRetired.push_back(std::move(host));
}

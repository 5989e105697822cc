// The plug-in host processes of one plug-in driver: how each kind of host is started, the
// loader host of each kind that reads plug-ins' records while the plug-ins are registered, and
// the hosts that have been asked to end.
//
// Start-up cost: a folder of N plug-ins of one kind is read by one loader host, so N Windows
// plug-ins cost one Wine start. The loader stays up afterwards, which keeps Wine's server
// running, and the first plug-in that needs a serving host takes it over. A serving host then
// stays with its plug-in for song after song until it dies or the plug-in goes.
//
// Threads: any thread may call; FLock guards the loaders, the retired hosts, the Wine loaders,
// the kinds that could not start and the count of hosts started; FStartedLock guards the list of
// every host started (the fields say so, and clang checks it).
#pragma once

#include "kpi/KpiHostProtocol.h"
#include "platform/LibraryFormat.h"
#include "platform/ThreadAnnotations.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TZoKpiHost;

enum class KpiHostKind {
    Native,    // pellan-kpi-host: a plug-in of this system, kept apart from the program
    Windows32, // pellan-kpi-host32.exe: a 32-bit Windows plug-in (under Wine on Linux)
    Windows64, // pellan-kpi-host64.exe: a 64-bit Windows plug-in (under Wine on Linux)
};

struct TZoKpiHostSettings {
    // Where the host programs are; "" for the place they are installed in beside the program.
    std::string HostFolder;
    // How long one call may take before its host is killed.
    std::chrono::milliseconds CallTimeLimit{60000};
    // PATH's value for finding Wine; unset: this process's PATH.
    std::optional<std::string> SearchPath;
};

class TZoKpiHostPool {
public:
    explicit TZoKpiHostPool(TZoKpiHostSettings settings = {});
    TZoKpiHostPool(const TZoKpiHostPool&) = delete;
    TZoKpiHostPool& operator=(const TZoKpiHostPool&) = delete;
    // Asks every host still running to end, gives them the call time limit together, then
    // kills the ones that are left.
    ~TZoKpiHostPool();

    // The plug-in's record as a fresh load in a host of kind shows it; the plug-in is unloaded
    // again. Raises EKpiLoadFailed (code 0) when no host can read it: no Wine, no host program,
    // a host that does not start, or one that dies on it.
    kpihost::LoadResult Probe(KpiHostKind kind, const std::string& path);
    // A host of kind that has loaded path for its songs; result tells how the load went. When
    // it did not load, the host has been let go and nullptr comes back. Raises EKpiHostFailed
    // or EKpiLoadFailed like Probe.
    std::shared_ptr<TZoKpiHost> Serve(KpiHostKind kind, const std::string& path,
                                      kpihost::LoadResult& result);
    // Lets a serving host go: it is asked to end (its plug-in's Deinit runs), and collected
    // later.
    void Retire(std::shared_ptr<TZoKpiHost> host);

    // How paths of this process are to be read by a host of kind.
    static kpihost::PathStyle PathStyleFor(KpiHostKind kind);
    std::chrono::milliseconds CallTimeLimit() const { return FSettings.CallTimeLimit; }
    // How many host processes this pool has started so far.
    int StartedHosts() const;
    // Any thread, a stop signal's watcher among them: kills every host that a call waits for
    // (a song's Render, an Open), so that a stop never waits for a plug-in to return.
    void KillBusyHosts();

    // The host program for kind: its file name, and its full path in the host folder.
    static const char* HostProgramName(KpiHostKind kind);
    std::string HostProgramPath(KpiHostKind kind) const;

private:
    std::shared_ptr<TZoKpiHost> StartHost(KpiHostKind kind) REQUIRES(FLock);
    void ReapRetired() REQUIRES(FLock);

    TZoKpiHostSettings FSettings;
    mutable platform::Mutex FLock;
    std::map<KpiHostKind, std::shared_ptr<TZoKpiHost>> FLoaders GUARDED_BY(FLock);
    std::vector<std::shared_ptr<TZoKpiHost>> FRetired GUARDED_BY(FLock);
    // Kinds whose host could not start, with the reason: every later plug-in of the kind fails
    // the same way at once instead of paying for another try.
    std::map<KpiHostKind, std::string> FCannotStart GUARDED_BY(FLock);
    bool FWineLooked GUARDED_BY(FLock) = false;
    std::string FWine32 GUARDED_BY(FLock);
    std::string FWine64 GUARDED_BY(FLock);
    int FStarted GUARDED_BY(FLock) = 0;
    // Taken inside FLock when a host starts.
    mutable platform::Mutex FStartedLock ACQUIRED_AFTER(FLock);
    std::vector<std::weak_ptr<TZoKpiHost>> FStartedHosts GUARDED_BY(FStartedLock);
};

// The host that a plug-in file of format needs, or nothing when it loads into this process (or
// cannot load anywhere, which the in-process load then reports). isolate puts plug-ins of this
// system into a host too.
std::optional<KpiHostKind> ChooseHost(platform::LibraryFormat format, bool isolate);

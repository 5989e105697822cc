// One running plug-in host process and the conversation with it: one request, then its reply,
// each within a time limit. A host that ends, does not answer in time, or answers outside the
// protocol is killed on the spot and stays dead; the call fails with the reason, and so does
// every later call. Nothing a host does can take the program down.
//
// Threads: any thread may call; the calls of all threads are served one after the other (Lock
// is held for a whole request and its reply). Alive, DeathReason and KillIfBusy may be used at
// any time, from any thread.
#pragma once

#include "kpi/KpiHostProtocol.h"
#include "platform/ChildProcess.h"
#include "platform/Errors.h"
#include "platform/ThreadAnnotations.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// A host that failed: it could not start, ended, did not answer in time or broke the protocol.
// The message says which, with what the host said on its way out.
class EKpiHostFailed : public EZoError {
public:
    enum class Cause { CannotStart, Ended, TimedOut, BadReply };
    EKpiHostFailed(Cause cause, const std::string& message) : EZoError(message), Why(cause) {}
    Cause Why;
};

class TZoKpiHost {
public:
    struct Launch {
        // The command that starts the host: its program, or Wine and the program.
        std::vector<std::string> Arguments;
        std::vector<std::pair<std::string, std::string>> Environment;
        // The host's name in messages ("pellan-kpi-host64.exe").
        std::string Name;
    };

    // Starts the host and greets it. Raises EKpiHostFailed (CannotStart) when it does not come
    // up as a plug-in host within the time limit.
    TZoKpiHost(const Launch& launch, std::chrono::milliseconds timeLimit);
    TZoKpiHost(const TZoKpiHost&) = delete;
    TZoKpiHost& operator=(const TZoKpiHost&) = delete;
    // Kills a host that still runs; Finish first gives it the chance to end by itself.
    ~TZoKpiHost();

    // Sends request (a whole frame) and reads the reply's payload into payload, reusing its
    // room. The reply must be the request's own and no larger than limit. Raises EKpiHostFailed
    // for any failure, after which the host is dead.
    void Call(const std::vector<uint8_t>& request, std::vector<uint8_t>& payload, uint32_t limit);

    bool Alive() const { return !FDead.load(); }
    std::string DeathReason() const;
    const std::string& Name() const { return FName; }
    int64_t ProcessId() const;

    // Asks the host to end in order (the plug-in's Deinit runs there) without waiting.
    void RequestExit();
    // Waits until the host has ended or deadline has passed, then kills it if it still runs.
    void Finish(std::chrono::steady_clock::time_point deadline);
    // Whether the process has ended (it is collected then); never waits.
    bool Ended();
    // Kills the host when a call is waiting for it, which then fails at once; an idle host is
    // left alone. For a stop that must not wait for a plug-in's call to return.
    void KillIfBusy();

private:
    [[noreturn]] void Fail(EKpiHostFailed::Cause cause, const std::string& what);

    std::string FName;
    std::chrono::milliseconds FTimeLimit;
    std::unique_ptr<platform::ChildProcess> FProcess;
    platform::Mutex FLock; // held for one request and its reply
    std::atomic<bool> FDead{false};
    std::atomic<bool> FBusy{false}; // a call waits for the host
    bool FExiting GUARDED_BY(FLock) = false;
    mutable platform::Mutex FReasonLock;
    std::string FDeathReason GUARDED_BY(FReasonLock); // set when FDead is
};

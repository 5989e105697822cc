#include "kpi/KpiHostProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

// A host that has ended gets this long to be collected, so that the message can say how it
// ended (a crash's signal) rather than that it was killed.
constexpr auto kEndGrace = std::chrono::seconds(2);

std::string SecondsText(std::chrono::milliseconds time)
{
    const auto ms = time.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// The last lines of what a host wrote to its standard error, on one line.
std::string LastWords(const std::string& errorOutput)
{
    std::string text = errorOutput;
    const size_t keep = 400;
    if (text.size() > keep)
        text = "..." + text.substr(text.size() - keep);
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    return text;
}

} // namespace

TZoKpiHost::TZoKpiHost(const Launch& launch, std::chrono::milliseconds timeLimit)
    : FName(launch.Name), FTimeLimit(timeLimit)
{
    std::string error;
    FProcess = platform::ChildProcess::Start({launch.Arguments, launch.Environment}, error);
    if (!FProcess)
        throw EKpiHostFailed(EKpiHostFailed::Cause::CannotStart,
                             txt::Format(txt::Id::HostCannotStart, {FName, error}));
    std::vector<uint8_t> payload;
    try {
        Call(kpihost::EncodeHello(), payload, kpihost::ReplyLimit(kpihost::kHello));
        kpihost::DecodeHelloReply(payload.data(), payload.size());
    } catch (const EKpiHostFailed& e) {
        throw EKpiHostFailed(EKpiHostFailed::Cause::CannotStart,
                             txt::Format(txt::Id::HostCannotStart, {FName, e.what()}));
    } catch (const kpihost::EKpiHostProtocol& e) {
        FProcess->Kill();
        throw EKpiHostFailed(EKpiHostFailed::Cause::CannotStart,
                             txt::Format(txt::Id::HostCannotStart, {FName, e.what()}));
    }
}

TZoKpiHost::~TZoKpiHost()
{
    // The process's own destructor kills and collects it.
}

std::string TZoKpiHost::DeathReason() const
{
    platform::MutexLock lock(FReasonLock);
    return FDeathReason;
}

int64_t TZoKpiHost::ProcessId() const
{
    return FProcess->ProcessId();
}

void TZoKpiHost::Fail(EKpiHostFailed::Cause cause, const std::string& what)
{
    std::string reason = what;
    if (cause == EKpiHostFailed::Cause::Ended) {
        FProcess->WaitForExit(Clock::now() + kEndGrace);
        const std::string how = FProcess->ExitDescription();
        if (!how.empty())
            reason += " (" + how + ")";
    }
    FProcess->Kill();
    const std::string words = LastWords(FProcess->ErrorOutput());
    if (!words.empty())
        reason += ": " + words;
    {
        platform::MutexLock lock(FReasonLock);
        FDeathReason = reason;
    }
    FDead.store(true);
    throw EKpiHostFailed(cause, reason);
}

void TZoKpiHost::Call(const std::vector<uint8_t>& request, std::vector<uint8_t>& payload,
                      uint32_t limit)
{
    using platform::ChildProcess;
    platform::MutexLock lock(FLock);
    if (FDead.load())
        throw EKpiHostFailed(EKpiHostFailed::Cause::Ended, DeathReason());
    FBusy.store(true);
    struct Idle {
        std::atomic<bool>& Busy;
        ~Idle() { Busy.store(false); }
    } idle{FBusy};
    const uint32_t requestKind =
        request[4] | request[5] << 8 | request[6] << 16 | uint32_t(request[7]) << 24;
    const auto deadline = Clock::now() + FTimeLimit;
    const auto failIo = [&](ChildProcess::IoResult result) {
        if (result == ChildProcess::IoResult::TimedOut)
            Fail(EKpiHostFailed::Cause::TimedOut,
                 txt::Format(txt::Id::HostNoAnswer, {SecondsText(FTimeLimit)}));
        Fail(EKpiHostFailed::Cause::Ended, txt::Text(txt::Id::HostEnded));
    };

    auto result = FProcess->Write(request.data(), request.size(), deadline);
    if (result != ChildProcess::IoResult::Done)
        failIo(result);
    uint8_t header[kpihost::kHeaderSize];
    result = FProcess->Read(header, sizeof header, deadline);
    if (result != ChildProcess::IoResult::Done)
        failIo(result);
    const kpihost::FrameHeader frame = kpihost::ReadHeader(header);
    const bool failed = frame.Kind == kpihost::kFailed;
    if (!failed && frame.Kind != (requestKind | kpihost::kReplyFlag))
        Fail(EKpiHostFailed::Cause::BadReply,
             txt::Format(txt::Id::HostWrongMessage, {std::to_string(frame.Kind)}));
    const uint32_t allowed = failed ? kpihost::ReplyLimit(kpihost::kFailed) : limit;
    if (frame.Size > allowed)
        Fail(EKpiHostFailed::Cause::BadReply,
             txt::Format(txt::Id::HostReplyTooLarge, {std::to_string(frame.Size)}));
    // The buffer keeps its room from call to call: a reply of the usual size costs no new
    // memory.
    payload.resize(frame.Size);
    result = FProcess->Read(payload.data(), payload.size(), deadline);
    if (result != ChildProcess::IoResult::Done)
        failIo(result);
    if (failed) {
        std::string text;
        try {
            text = kpihost::DecodeFailedReply(payload.data(), payload.size());
        } catch (const kpihost::EKpiHostProtocol& e) {
            text = e.what();
        }
        Fail(EKpiHostFailed::Cause::BadReply, txt::Format(txt::Id::HostReportedFailure, {text}));
    }
}

void TZoKpiHost::RequestExit()
{
    platform::MutexLock lock(FLock);
    if (FDead.load() || FExiting)
        return;
    FExiting = true;
    const std::vector<uint8_t> request = kpihost::EncodeExit();
    // The reply is not waited for; the end of the process is.
    FProcess->Write(request.data(), request.size(), Clock::now() + std::chrono::seconds(1));
    FProcess->CloseInput();
}

void TZoKpiHost::Finish(std::chrono::steady_clock::time_point deadline)
{
    if (!FProcess->WaitForExit(deadline))
        FProcess->Kill();
    FProcess->WaitForExit(Clock::now() + kEndGrace);
    FDead.store(true);
}

bool TZoKpiHost::Ended()
{
    return FProcess->WaitForExit(Clock::now());
}

void TZoKpiHost::KillIfBusy()
{
    if (FBusy.load())
        FProcess->Kill();
}

#include "app/SongDecoding.h"

#include "app/LogLines.h"
#include "decoder/kpiEffectorPlugin.h"
#include "kpi/KpiSong.h"
#include "kpi/kpiDriver.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/MainThreadQueue.h"
#include "platform/Paths.h"

#include <cstdio>

namespace {

std::string WithText(const char* pattern, const std::string& text)
{
    std::string result = pattern;
    return result.replace(result.find("%s"), 2, text);
}

std::string WithNumber(const char* pattern, int64_t number)
{
    std::string result = pattern;
    return result.replace(result.find("%d"), 2, std::to_string(number));
}

// Whether output would overwrite source: the same text, or another name of the same file.
bool SameFile(const std::string& source, const std::string& output)
{
    if (source == output)
        return true;
    const auto a = platform::GetFileIdentity(source);
    const auto b = platform::GetFileIdentity(output);
    return a && b && *a == *b;
}

} // namespace

void LogFailure(const LogFunction& log, const std::exception& failure)
{
    log(failure.what());
    if (const auto* error = dynamic_cast<const EZoError*>(&failure);
        error && !error->Reason().empty())
        log(logtext::ReasonLine(error->Reason()));
}

void LogRunError(const LogFunction& log, const TZoKpiFileDecoderThread& thread)
{
    const std::string error = thread.FatalMessage();
    if (error.empty())
        return;
    log("エラー: " + error);
    if (const std::string reason = thread.FatalReason(); !reason.empty())
        log(logtext::ReasonLine(reason));
}

std::string FormatPlayTime(uint32_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2u:%.2u.%.3u", ms / 60000, (ms / 1000) % 60, ms % 1000);
    return text;
}

PreparedSongDecode PrepareSongDecode(TZoKpiDriver& driver, const SongDecodeRequest& request,
                                     const LogFunction& log)
{
    // A plug-in may move the current folder (in this Open, or in one before): the names typed
    // mean the folder the program started in, whatever the current folder is by now.
    const std::string source = platform::AbsolutePath(request.Source, platform::LaunchFolder());
    const std::string output = platform::AbsolutePath(request.Output, platform::LaunchFolder());
    std::unique_ptr<TZoSong> song = driver.OpenSong(source, &request.Requested);
    if (!song)
        throw EZoError(WithText("エラー: ファイル %s に適したプラグインが見つかりませんでした",
                                request.Source));
    log("ファイル " + request.Source + " のデコードを開始します");
    log("  プラグイン " + platform::ExtractFileName(song->PluginFileName()) + " を使用します");
    // What the plug-in answered, not what was asked.
    const SoundFormat& f = song->Format;
    log("  " + std::to_string(static_cast<int32_t>(f.SampleRate)) + "Hz, " +
        std::to_string(static_cast<int32_t>(f.BitsPerSample)) + " ビット, " +
        std::to_string(static_cast<int32_t>(f.Channels)) + " チャンネル");
    // A format whose bytes per second come out as 0 (samples under 8 bits, or a product that
    // overflows 32 bits) would never reach a position, a default length or a fade.
    if (f.SampleRate * f.BitsPerSample * f.Channels == 0 || song->BytesPerSecond() == 0)
        throw EZoError("エラー: PCM パラメータが異常です");
    // A plug-in may claim a file it then cannot open and still leave a format behind.
    if (song->Handle == 0)
        throw EZoError(WithText("エラー: ファイル %s を開けませんでした", request.Source),
                       song->OpenFailure);

    const bool multiSong = song->IsMultiSong();
    if (multiSong) {
        // An entry that names no song of a multi-song file gets its first one.
        const uint32_t number = request.SongNumber.value_or(1);
        if (number > f.LengthMs / 1000)
            throw EZoError(
                WithNumber("エラー: 曲番号 %d は範囲外です", static_cast<int32_t>(number)));
        song->Seek(number);
    }
    if (SameFile(source, output))
        throw EZoError(WithText("エラー: 出力先 %s は入力ファイルと同じです", request.Output));
    if (!request.Playlist.empty() && SameFile(request.Playlist, output))
        throw EZoError(
            WithText("エラー: 出力先 %s はプレイリストファイルと同じです", request.Output));

    const uint32_t lengthMs = f.LengthMs;
    const bool endless = song->IsEndless();
    PreparedSongDecode prepared;
    prepared.Thread = std::make_unique<TZoKpiFileDecoderThread>(std::move(song), output);

    const uint32_t defaultMs = request.Setting.DefaultLength * 1000u;
    const bool knownLength = lengthMs != KPI_NO_LENGTH && !multiSong;
    prepared.TotalMs = knownLength ? lengthMs : defaultMs + request.Setting.FadeoutLength;
    const uint32_t fadeStart = knownLength ? lengthMs : defaultMs;
    // Songs without a length, songs of a multi-song file and songs that never end are faded
    // out; an endless song of known length fades from its own length.
    if (lengthMs == KPI_NO_LENGTH || multiSong || endless)
        prepared.Thread->Effectors.push_back(
            std::make_unique<TZoKpiFader>(fadeStart, request.Setting.FadeoutLength));
    prepared.Thread->TagInfo = request.Tags;
    return prepared;
}

TSingleDecodeJob::~TSingleDecodeJob()
{
    StopAndWait();
}

bool TSingleDecodeJob::Start(TZoKpiDriver& driver, const SongDecodeRequest& request)
{
    // A thread whose end was handled but that is not released yet goes first: one decode, one
    // thread.
    ReleaseThread();
    PreparedSongDecode prepared;
    try {
        prepared = PrepareSongDecode(driver, request, FHooks.Log);
    } catch (const std::exception& e) {
        LogFailure(FHooks.Log, e);
        FHooks.Log(logtext::kDecodeFailed);
        return false;
    }
    FDecoderThread = std::move(prepared.Thread);
    TZoKpiFileDecoderThread& thread = *FDecoderThread;
    FTotalMs = prepared.TotalMs;
    FRunning = true;
    FStopped = false;
    FSucceeded = false;
    if (FHooks.Started)
        FHooks.Started(FTotalMs);

    thread.OnProgress = [this](TZoSong& song) {
        if (FHooks.Progress)
            FHooks.Progress(song.Position(), FTotalMs);
    };
    thread.OnTerminate = [this, &thread] { Terminated(thread); };
    thread.Start();
    return true;
}

bool TSingleDecodeJob::Stop()
{
    if (!FRunning)
        return false;
    if (FStopped)
        return true;
    FStopped = true;
    // A request: the thread ends after the block in hand. A run that has already finished
    // keeps its complete file, and nothing is said of a stop.
    if (!FDecoderThread->RequestStop()) {
        FStopped = false;
        return false;
    }
    FHooks.Log(logtext::kStoppedByUser);
    FHooks.Log(logtext::kFileDeleted);
    return true;
}

void TSingleDecodeJob::StopAndWait()
{
    Stop();
    if (FDecoderThread) {
        // Serves the thread's last calls, its end handler included; the release that handler
        // posts must not free the thread under this wait.
        FWaitingForThread = true;
        FDecoderThread->WaitFor();
        FWaitingForThread = false;
    }
    ReleaseThread();
}

void TSingleDecodeJob::ReleaseThread()
{
    if (!FDecoderThread || FRunning || FWaitingForThread)
        return;
    // The end handler has run; the worker only has to leave its run.
    FDecoderThread->WaitFor();
    FDecoderThread.reset(); // completes the file, or deletes it after a stop
}

void TSingleDecodeJob::Terminated(TZoKpiFileDecoderThread& thread)
{
    FRunning = false;
    FSucceeded = !thread.Aborted() && thread.FatalMessage().empty();
    // A run that ended by an error keeps what it wrote, but is not reported as a success.
    LogRunError(FHooks.Log, thread);
    FHooks.Log(logtext::kDecodeDone);
    // The worker is still inside this handler; the thread goes as soon as the main thread is
    // free again.
    platform::MainThreadQueue::Post([this, alive = std::weak_ptr<int>(FAlive)] {
        if (!alive.expired())
            ReleaseThread();
    });
    if (FHooks.Ended)
        FHooks.Ended();
}

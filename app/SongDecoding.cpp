#include "app/SongDecoding.h"

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

std::string FormatText(uint32_t rate, uint32_t bits, uint32_t channels)
{
    return std::to_string(rate) + "Hz, " + std::to_string(bits) + " ビット, " +
           std::to_string(channels) + " チャンネル";
}

// The format a setting asks for; 0 leaves a field to the plug-in.
std::string RequestedFormatText(const SoundFormat& r)
{
    return (r.SampleRate ? std::to_string(r.SampleRate) + "Hz" : "周波数指定なし") + ", " +
           (r.BitsPerSample ? std::to_string(r.BitsPerSample) + " ビット" : "ビット数指定なし") +
           ", " +
           (r.Channels ? std::to_string(r.Channels) + " チャンネル" : "チャンネル数指定なし");
}

// Why no WAV reader would take a file of format f, or "": a rate that reads as negative, or
// fields too large for the header's 16 and 32-bit fields.
std::string UnwritableFormatReason(const SoundFormat& f)
{
    const uint64_t frameBytes = uint64_t(f.BitsPerSample / 8) * f.Channels;
    if (f.SampleRate > 0x7FFFFFFFu)
        return "サンプリング周波数 " + std::to_string(f.SampleRate) +
               "Hz は WAV ファイルに書けません";
    if (f.Channels > 0xFFFFu)
        return "チャンネル数 " + std::to_string(f.Channels) + " は WAV ファイルに書けません";
    if (f.BitsPerSample > 0xFFFFu || frameBytes > 0xFFFFu)
        return "量子化ビット数 " + std::to_string(f.BitsPerSample) + " は WAV ファイルに書けません";
    if (frameBytes * f.SampleRate > 0xFFFFFFFFull)
        return "1 秒あたり " + std::to_string(frameBytes * f.SampleRate) +
               " バイトは WAV ファイルに書けません";
    return std::string();
}

} // namespace

namespace logtext {

std::string NotARegularFileLine(const std::string& path, platform::FileKind kind)
{
    const char* what = kind == platform::FileKind::Folder   ? "フォルダ"
                       : kind == platform::FileKind::Pipe   ? "名前付きパイプ"
                       : kind == platform::FileKind::Socket ? "ソケット"
                                                            : "デバイス";
    return "エラー: " + path + " は通常のファイルではありません (" + what + ")";
}

std::string CannotOpenLine(const std::string& path, const std::string& reason)
{
    return "エラー: ファイル " + path + " を開けませんでした (" + reason + ")";
}

std::string InputFileProblemLine(const std::string& path)
{
    const platform::FileCheck check = platform::CheckInputFile(path);
    if (check.Kind != platform::FileKind::Regular && check.Kind != platform::FileKind::Missing)
        return NotARegularFileLine(path, check.Kind);
    return check.Reason.empty() ? std::string() : CannotOpenLine(path, check.Reason);
}

} // namespace logtext

void LogStartFailure(const std::exception& error, const LogFunction& log)
{
    log(error.what());
    const auto* openFailed = dynamic_cast<const ESongOpenFailed*>(&error);
    if (openFailed != nullptr && !openFailed->Reason.empty())
        log(logtext::kOpenFailedReason + openFailed->Reason);
}

TZoWavTagInfo MergeSongTags(const TZoWavTagInfo& given, const TZoSongInfo& song)
{
    const auto pick = [](const std::string& own, const std::string& plugin) {
        return own.empty() ? plugin : own;
    };
    TZoWavTagInfo tags;
    tags.Title = pick(given.Title, song.Title);
    tags.Artist = pick(given.Artist, song.Artist);
    tags.Album = pick(given.Album, song.Album);
    tags.Track = pick(given.Track, song.Track);
    tags.Date = pick(given.Date, song.Date);
    tags.Comment = pick(given.Comment, song.Comment);
    tags.Copyright = pick(given.Copyright, song.Copyright);
    return tags;
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
    const std::string noPlugin =
        WithText("エラー: ファイル %s に適したプラグインが見つかりませんでした", request.Source);
    if (driver.PluginFor(request.Source) == nullptr)
        throw EZoError(noPlugin);
    // Users look for a missing file where the message points: at the file, with the system's
    // reason, not at the plug-in that would have failed to open it.
    if (const std::string problem = logtext::InputFileProblemLine(request.Source); !problem.empty())
        throw EZoError(problem);
    std::unique_ptr<TZoSong> song = driver.OpenSong(request.Source, &request.Requested);
    if (!song)
        throw EZoError(noPlugin);
    log("ファイル " + request.Source + " のデコードを開始します");
    log("  プラグイン " + platform::ExtractFileName(song->PluginFileName()) + " を使用します");
    // What the plug-in answered, not what was asked.
    const SoundFormat& f = song->Format;
    log("  " + FormatText(f.SampleRate, f.BitsPerSample, f.Channels));
    // A format whose bytes per second come out as 0 (samples under 8 bits, or a product that
    // overflows 32 bits) would never reach a position, a default length or a fade.
    if (f.SampleRate * f.BitsPerSample * f.Channels == 0 || song->BytesPerSecond() == 0)
        throw ESongOpenFailed("エラー: PCM パラメータが異常です", song->OpenFailure);
    if (const std::string reason = UnwritableFormatReason(f); !reason.empty())
        throw EZoError("エラー: PCM パラメータが異常です (" + reason + ")");
    // A plug-in may claim a file it then cannot open and still leave a format behind.
    if (song->Handle == 0)
        throw ESongOpenFailed(WithText("エラー: ファイル %s を開けませんでした", request.Source),
                              song->OpenFailure);
    // The setting's format is a request; the file gets what the plug-in answered.
    const SoundFormat& r = request.Requested;
    if ((r.SampleRate != 0 && r.SampleRate != f.SampleRate) ||
        (r.BitsPerSample != 0 && r.BitsPerSample != f.BitsPerSample) ||
        (r.Channels != 0 && r.Channels != f.Channels))
        log("  警告: 設定の形式 (" + RequestedFormatText(r) + ") と異なる形式 (" +
            FormatText(f.SampleRate, f.BitsPerSample, f.Channels) + ") で書き出します");

    const bool multiSong = song->IsMultiSong();
    if (multiSong) {
        // An entry that names no song of a multi-song file gets its first one.
        const uint32_t number = request.SongNumber.value_or(1);
        if (number > f.LengthMs / 1000)
            throw EZoError(
                WithNumber("エラー: 曲番号 %d は範囲外です", static_cast<int32_t>(number)));
        song->Seek(number);
    }
    if (SameFile(request.Source, request.Output))
        throw EZoError(WithText("エラー: 出力先 %s は入力ファイルと同じです", request.Output));
    if (!request.Playlist.empty() && SameFile(request.Playlist, request.Output))
        throw EZoError(
            WithText("エラー: 出力先 %s はプレイリストファイルと同じです", request.Output));

    // Asked once the song is chosen: a multi-song file describes the song selected.
    const TZoWavTagInfo tags = MergeSongTags(request.Tags, song->Info());
    const uint32_t lengthMs = f.LengthMs;
    const bool endless = song->IsEndless();
    PreparedSongDecode prepared;
    if (request.WriteTo.empty()) {
        prepared.Thread =
            std::make_unique<TZoKpiFileDecoderThread>(std::move(song), request.Output);
    } else {
        try {
            prepared.Thread =
                std::make_unique<TZoKpiFileDecoderThread>(std::move(song), request.WriteTo);
        } catch (const EZoError&) {
            // The user knows the output's name, not the temporary one.
            throw EZoError(
                WithText("エラー: Wav ファイル %s を作成できませんでした", request.Output));
        }
    }

    const uint32_t defaultMs = request.Setting.DefaultLength * 1000u;
    const bool knownLength = lengthMs != KPI_NO_LENGTH && !multiSong;
    prepared.TotalMs = knownLength ? lengthMs : defaultMs + request.Setting.FadeoutLength;
    const uint32_t fadeStart = knownLength ? lengthMs : defaultMs;
    // Songs without a length, songs of a multi-song file and songs that never end are faded
    // out; an endless song of known length fades from its own length.
    if (lengthMs == KPI_NO_LENGTH || multiSong || endless)
        prepared.Thread->Effectors.push_back(
            std::make_unique<TZoKpiFader>(fadeStart, request.Setting.FadeoutLength));
    prepared.Thread->TagInfo = tags;
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
        LogStartFailure(e, FHooks.Log);
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
    const std::string error = thread.FatalMessage();
    FSucceeded = !thread.Aborted() && error.empty();
    // A run that ended by an error keeps what it wrote, but is not reported as a success.
    if (!error.empty())
        FHooks.Log("エラー: " + error);
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

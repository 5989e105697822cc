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

// Whether output would overwrite source: the same text, or another name of the same file.
bool SameFile(const std::string& source, const std::string& output)
{
    if (source == output)
        return true;
    const auto a = platform::GetFileIdentity(source);
    const auto b = platform::GetFileIdentity(output);
    return a && b && *a == *b;
}

// A format as "rate, bits, channels"; a field that is 0 is told in the words given for it.
std::string FormatText(uint32_t rate, uint32_t bits, uint32_t channels, bool zeroIsAny = false)
{
    const auto field = [zeroIsAny](uint32_t value, txt::Id told, txt::Id any) {
        return zeroIsAny && value == 0 ? std::string(txt::Text(any))
                                       : txt::Format(told, {std::to_string(value)});
    };
    return field(rate, txt::Id::RateDescription, txt::Id::AnyRate) + ", " +
           field(bits, txt::Id::BitsDescription, txt::Id::AnyBits) + ", " +
           field(channels, txt::Id::ChannelsDescription, txt::Id::AnyChannels);
}

// The format a setting asks for; 0 leaves a field to the plug-in.
std::string RequestedFormatText(const SoundFormat& r)
{
    return FormatText(r.SampleRate, r.BitsPerSample, r.Channels, true);
}

// Why no WAV reader would take a file of format f, or "": a rate that reads as negative, or
// fields too large for the header's 16 and 32-bit fields.
std::string UnwritableFormatReason(const SoundFormat& f)
{
    const uint64_t frameBytes = uint64_t(f.BitsPerSample / 8) * f.Channels;
    if (f.SampleRate > 0x7FFFFFFFu)
        return txt::Format(txt::Id::RateNotWritable, {std::to_string(f.SampleRate)});
    if (f.Channels > 0xFFFFu)
        return txt::Format(txt::Id::ChannelsNotWritable, {std::to_string(f.Channels)});
    if (f.BitsPerSample > 0xFFFFu || frameBytes > 0xFFFFu)
        return txt::Format(txt::Id::BitsNotWritable, {std::to_string(f.BitsPerSample)});
    if (frameBytes * f.SampleRate > 0xFFFFFFFFull)
        return txt::Format(txt::Id::ByteRateNotWritable,
                           {std::to_string(frameBytes * f.SampleRate)});
    return std::string();
}

} // namespace

namespace logtext {

std::string NotARegularFileLine(const std::string& path, platform::FileKind kind)
{
    const txt::Id what = kind == platform::FileKind::Folder   ? txt::Id::FileKindFolder
                         : kind == platform::FileKind::Pipe   ? txt::Id::FileKindPipe
                         : kind == platform::FileKind::Socket ? txt::Id::FileKindSocket
                                                              : txt::Id::FileKindDevice;
    return txt::Format(txt::Id::NotARegularFile, {path, txt::Text(what)});
}

std::string CannotOpenLine(const std::string& path, const std::string& reason)
{
    return txt::Format(txt::Id::FileNotOpened, {path, reason});
}

std::string InputFileProblemLine(const std::string& path)
{
    const platform::FileCheck check = platform::CheckInputFile(path);
    if (check.Kind != platform::FileKind::Regular && check.Kind != platform::FileKind::Missing)
        return NotARegularFileLine(path, check.Kind);
    return check.Reason.empty() ? std::string() : CannotOpenLine(path, check.Reason);
}

} // namespace logtext

void LogFailure(const LogFunction& log, const std::exception& failure)
{
    const LogLine line = logtext::FailureLine(failure);
    log(line);
    if (const auto* error = dynamic_cast<const EZoError*>(&failure);
        error && !error->Reason().empty())
        log(logtext::ReasonLine(error->Reason(), line.Text));
}

void LogRunError(const LogFunction& log, const TZoKpiFileDecoderThread& thread)
{
    const std::string error = thread.FatalMessage();
    if (error.empty())
        return;
    const LogLine line = logtext::RunFailedLine(error);
    log(line);
    if (const std::string reason = thread.FatalReason(); !reason.empty())
        log(logtext::ReasonLine(reason, line.Text));
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
    // A plug-in may move the current folder (in this Open, or in one before): the names typed
    // mean the folder the program started in, whatever the current folder is by now.
    const std::string source = platform::AbsolutePath(request.Source, platform::LaunchFolder());
    const std::string output =
        request.StandardOutput ? request.Output
                               : platform::AbsolutePath(request.Output, platform::LaunchFolder());
    const std::string noPlugin = txt::Format(txt::Id::NoPluginForFile, {request.Source});
    if (driver.PluginFor(source) == nullptr)
        throw EZoError(noPlugin);
    // Users look for a missing file where the message points: at the file, with the system's
    // reason, not at the plug-in that would have failed to open it.
    if (const std::string problem = logtext::InputFileProblemLine(source); !problem.empty())
        throw EZoError(problem);
    std::unique_ptr<TZoSong> song = driver.OpenSong(source, &request.Requested);
    if (!song)
        throw EZoError(noPlugin);
    log(logtext::Line(txt::Id::DecodeStarts, {request.Source}));
    log(logtext::Line(txt::Id::UsingPlugin, {platform::ExtractFileName(song->PluginFileName())}));
    // What the plug-in answered, not what was asked; the numbers read unsigned, as they are.
    const SoundFormat& f = song->Format;
    log(logtext::Line(txt::Id::SongFormat,
                      {std::to_string(f.SampleRate), std::to_string(f.BitsPerSample),
                       std::to_string(f.Channels)}));
    // A format whose bytes per second come out as 0 (samples under 8 bits, or a product that
    // overflows 32 bits) would never reach a position, a default length or a fade.
    if (f.SampleRate * f.BitsPerSample * f.Channels == 0 || song->BytesPerSecond() == 0)
        throw EZoError(txt::Format(txt::Id::BadPcmFormat, {}), song->OpenFailure);
    if (const std::string reason = UnwritableFormatReason(f); !reason.empty())
        throw EZoError(txt::Id::UnwritablePcmFormat, {reason});
    // A plug-in may claim a file it then cannot open and still leave a format behind.
    if (song->Handle == 0)
        throw EZoError(txt::Format(txt::Id::SongNotOpened, {request.Source}), song->OpenFailure);
    // The setting's format is a request; the file gets what the plug-in answered.
    const SoundFormat& r = request.Requested;
    if ((r.SampleRate != 0 && r.SampleRate != f.SampleRate) ||
        (r.BitsPerSample != 0 && r.BitsPerSample != f.BitsPerSample) ||
        (r.Channels != 0 && r.Channels != f.Channels))
        log(logtext::Line(
            txt::Id::FormatDiffers,
            {RequestedFormatText(r), FormatText(f.SampleRate, f.BitsPerSample, f.Channels)}));

    const bool multiSong = song->IsMultiSong();
    if (multiSong) {
        // An entry that names no song of a multi-song file gets its first one.
        const uint32_t number = request.SongNumber.value_or(1);
        if (number > f.LengthMs / 1000)
            throw EZoError(txt::Id::SongOutOfRange, {std::to_string(static_cast<int32_t>(number))});
        song->Seek(number);
    }
    if (!request.StandardOutput && SameFile(source, output))
        throw EZoError(txt::Id::OutputIsSource, {request.Output});
    if (!request.Playlist.empty() && SameFile(request.Playlist, output))
        throw EZoError(txt::Id::OutputIsPlaylist, {request.Output});

    // Asked once the song is chosen: a multi-song file describes the song selected.
    const TZoWavTagInfo tags = MergeSongTags(request.Tags, song->Info());
    const uint32_t lengthMs = f.LengthMs;
    const bool endless = song->IsEndless();
    PreparedSongDecode prepared;
    if (request.StandardOutput) {
        prepared.Thread = std::make_unique<TZoKpiFileDecoderThread>(
            std::move(song), request.StandardOutput->File, request.StandardOutput->Seekable,
            txt::Text(txt::Id::StandardOutputName));
    } else if (request.WriteTo.empty()) {
        prepared.Thread = std::make_unique<TZoKpiFileDecoderThread>(std::move(song), output);
    } else {
        try {
            prepared.Thread =
                std::make_unique<TZoKpiFileDecoderThread>(std::move(song), request.WriteTo);
        } catch (const EZoError&) {
            // The user knows the output's name, not the temporary one.
            throw EZoError(txt::Id::WavNotCreated, {request.Output});
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
        LogFailure(FHooks.Log, e);
        FHooks.Log(logtext::Line(txt::Id::DecodeFailed));
        return false;
    }
    FDecoderThread = std::move(prepared.Thread);
    TZoKpiFileDecoderThread& thread = *FDecoderThread;
    FTotalMs = prepared.TotalMs;
    FRunning = true;
    FStopped = false;
    FSucceeded = false;
    FToStandardOutput = request.StandardOutput.has_value();
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
    FHooks.Log(logtext::Line(txt::Id::StoppedByUser));
    // What went to standard output is with its reader already.
    FHooks.Log(logtext::Line(FToStandardOutput ? txt::Id::StreamCutShort : txt::Id::FileDeleted));
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
    if (!thread.FatalMessage().empty() && FToStandardOutput)
        FHooks.Log(logtext::Line(txt::Id::StreamCutShort));
    FHooks.Log(logtext::Line(txt::Id::DecodeDone));
    // The worker is still inside this handler; the thread goes as soon as the main thread is
    // free again.
    platform::MainThreadQueue::Post([this, alive = std::weak_ptr<int>(FAlive)] {
        if (!alive.expired())
            ReleaseThread();
    });
    if (FHooks.Ended)
        FHooks.Ended();
}

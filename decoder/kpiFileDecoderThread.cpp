#include "decoder/kpiFileDecoderThread.h"

#include "kpi/KpiSong.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/FilesInProgress.h"
#include "platform/StandardStreams.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace {

constexpr uint32_t kDefaultBlockSize = 8192;
// A plug-in that names a huge render size is asked for this much at a time instead; the
// effectors take block lengths as signed 32-bit numbers.
constexpr uint32_t kLargestBlockSize = 16u << 20;

// Only a file the decoder made is removed: an output path may name a device such as /dev/null.
void DeleteOutputFile(const std::string& path)
{
    if (platform::IsRegularFile(path))
        platform::RemoveFile(path);
}

} // namespace

TZoKpiFileDecoderThread::TZoKpiFileDecoderThread(std::unique_ptr<TZoSong> song,
                                                 const std::string& fileName)
    : FSong(std::move(song)), FFileName(fileName)
{
    const SoundFormat& f = FSong->Format;
    Create(WavFormatRecord::FromPcm(f.SampleRate, f.Channels, f.BitsPerSample), nullptr, false);
}

TZoKpiFileDecoderThread::TZoKpiFileDecoderThread(std::unique_ptr<TZoSong> song, std::FILE* stream,
                                                 bool seekable, const std::string& name)
    : FSong(std::move(song)), FFileName(name)
{
    const SoundFormat& f = FSong->Format;
    WavFormatRecord format;
    try {
        format = WavFormatRecord::FromPcm(f.SampleRate, f.Channels, f.BitsPerSample);
    } catch (...) {
        std::fclose(stream);
        throw;
    }
    Create(format, stream, seekable);
}

void TZoKpiFileDecoderThread::Create(const WavFormatRecord& format, std::FILE* stream,
                                     bool seekable)
{
    if (stream != nullptr) {
        FToStream = true;
        // Nothing to delete here, so nothing goes into the list of files in progress.
        if (!FWav.CreateOnStream(stream, seekable, format))
            throw EZoError(txt::Id::WavStreamNotCreated, {std::strerror(FWav.LastError())});
        return;
    }
    const bool created = FWav.Create(FFileName, format);
    // Through a symbolic link the file made is the link's target.
    if (FWav.IsOpen())
        FCreatedPath = platform::ResolvedPath(FFileName);
    if (created)
        FInProgress = platform::FilesInProgress::Add(FCreatedPath);
    if (!created) {
        const bool opened = FWav.IsOpen();
        FWav.Close();
        if (opened)
            DeleteOutputFile(FCreatedPath);
        throw EZoError(txt::Id::WavNotCreated, {FFileName});
    }
}

void TZoKpiFileDecoderThread::EndIncomplete()
{
    FWav.EndIncomplete(TagInfo);
}

TZoKpiFileDecoderThread::~TZoKpiFileDecoderThread()
{
    // A run still going when its owner lets go is stopped, and its file goes with it.
    if (Started() && !Finished())
        RequestStop();
    EnsureRunEnded();
    if (FWav.IsOpen()) {
        // A run stopped before it began: standard output holds at most a header, marked too.
        if (FToStream && Aborted())
            EndIncomplete();
        FWav.Close();
        if (Aborted())
            DeleteOutputFile(FCreatedPath);
    }
    platform::FilesInProgress::Remove(FInProgress);
    FSong.reset(); // closes the plug-in's handle
    Effectors.clear();
}

bool TZoKpiFileDecoderThread::RequestStop()
{
    int state = kRunning;
    // Asked before, it still holds. After the run's end it is too late: the stop flag is left
    // alone, so that the end's own reading of it cannot turn the answer round.
    if (!FStopState.compare_exchange_strong(state, kStopRequested) && state != kStopRequested)
        return false;
    Terminate();
    return true;
}

bool TZoKpiFileDecoderThread::StoppedBeforeTheEnd()
{
    int state = kRunning;
    if (FStopState.compare_exchange_strong(state, kFinished))
        return Terminated(); // a plain Terminate, which asks nothing back, read once here
    return state == kStopRequested;
}

void TZoKpiFileDecoderThread::WriteBlock(const uint8_t* bytes, size_t length, uint64_t tailSize)
{
    if (length == 0)
        return;
    if (WavFileWriter::kDataOffset + FWav.DataSize() + length + tailSize > FileSizeLimit)
        throw EZoError(txt::Id::WavSizeLimit, {FFileName});
    if (!FWav.AppendData(bytes, length))
        ThrowNotWritten();
}

void TZoKpiFileDecoderThread::ThrowNotWritten() const
{
    // A stream's reader may have gone (a pipe closed early): the system says so.
    if (FToStream)
        throw EZoError(txt::Id::WavStreamNotWritten, {std::strerror(FWav.LastError())});
    throw EZoError(txt::Id::WavNotWritten, {FFileName});
}

void TZoKpiFileDecoderThread::Execute()
{
    TZoSong& song = *FSong;
    const uint32_t blockSize =
        std::min(song.Format.UnitRenderSize != 0 ? song.Format.UnitRenderSize : kDefaultBlockSize,
                 kLargestBlockSize);
    const uint32_t frameSize = (song.Format.BitsPerSample / 8) * song.Format.Channels;
    // The pad byte and the LIST chunk still have to fit when the data chunk is closed.
    const uint64_t tailSize = WavFileWriter::TailSize(1, TagInfo);

    bool decided = false; // whether the run's end has settled FAborted
    if (FToStream)
        platform::KeepBrokenPipesFromEndingThisThread();
    try {
        // A stream that cannot be rewound gets its header now that the tags are known.
        if (!FWav.BeginData(TagInfo))
            ThrowNotWritten();
        // Room for one block plus the part of a frame left over from the block before: the
        // effectors see whole frames only, even when the block size is not a multiple of the
        // frame size, and the plug-in is still asked for exactly one block each time.
        std::vector<uint8_t> buffer(size_t(blockSize) + frameSize);
        uint32_t lastReported = song.Position();
        uint32_t carried = 0;
        bool shortened = false;
        do {
            const uint32_t rendered = song.Render(buffer.data() + carried, blockSize);
            const uint32_t available = carried + rendered;
            const uint32_t whole = frameSize == 0 ? available : available - available % frameSize;
            int32_t length = static_cast<int32_t>(whole);
            bool outputEnded = false;
            for (const auto& effector : Effectors) {
                const int32_t given = length;
                length = effector->Process(song, buffer.data(), given);
                if (length < 0 || length > given)
                    throw EZoError("Effector returned an invalid length");
                outputEnded = outputEnded || effector->OutputEnded();
            }
            WriteBlock(buffer.data(), static_cast<size_t>(length), tailSize);
            // A block cut short ends the output; so does an effector that has reached its end
            // with a block it did not need to cut (a block of one frame or less).
            shortened = static_cast<uint32_t>(length) < whole || outputEnded;
            carried = available - whole;
            if (carried > 0 && !shortened) {
                if (song.Ended) // the song's last bytes, not a whole frame
                    WriteBlock(buffer.data() + whole, carried, tailSize);
                else
                    std::memmove(buffer.data(), buffer.data() + whole, carried);
            }

            if (OnProgress) {
                const uint32_t position = song.Position();
                const uint32_t moved =
                    position > lastReported ? position - lastReported : lastReported - position;
                if (moved > 1000) {
                    Synchronize([this, &song] { OnProgress(song); });
                    lastReported = song.Position();
                }
            }
            std::this_thread::yield();
        } while (!song.Ended && !Terminated() && !shortened);

        FAborted = StoppedBeforeTheEnd();
        decided = true;
        if (OnProgress)
            Synchronize([this, &song] { OnProgress(song); });
    } catch (...) {
        // A stop asked before the error still deletes the file, as its owner was told.
        if (!decided)
            FAborted = StoppedBeforeTheEnd();
        EndIncomplete();
        // After a stop the run's end is the stop's: an error it brought about (a plug-in host
        // ended so that the stop need not wait for it) is no failure of the song.
        if (FAborted)
            return;
        throw;
    }
    // A stopped file is finished all the same, and then deleted; a stream cannot be.
    if (FAborted && FToStream) {
        EndIncomplete();
        return;
    }
    if (!FWav.Finish(TagInfo))
        ThrowNotWritten();
    // Complete and kept: an emergency exit from here on leaves it alone.
    if (!FAborted) {
        platform::FilesInProgress::Remove(FInProgress);
        FInProgress = -1;
    }
}

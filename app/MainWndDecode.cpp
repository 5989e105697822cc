// The two decode tabs. The single-file tab decodes one song of one file into a chosen WAV file;
// its click returns at once. The playlist tab decodes every entry of a KBM playlist; its click
// stays in the batch until it is over, while the window keeps working. Each tab's start button
// is also its stop button, and each tab holds the other tab's start button back while it runs,
// so that no two decoder threads ever exist at once.
#include "app/MainWndCore.h"

#include "app/MainWndTexts.h"
#include "app/PlaylistDecoding.h"
#include "app/SongDecoding.h"
#include "app/WindowControls.h"
#include "platform/Errors.h"

void TMainWndCore::btnSingleDecodeClick()
{
    if (FControls.btnSingleDecode->Caption() == txt::Text(txt::Id::StopCaption))
        SingleDecodeStop();
    else
        SingleDecodeStart();
}

void TMainWndCore::SingleDecodeStart()
{
    // A stopped decode whose thread has not ended yet holds the start back.
    if (FSingleJob && FSingleJob->Running())
        return;
    IButtonControl& other = *FControls.btnStartMultiDecode;
    other.SetEnabled(false);
    SongDecodeRequest request;
    try {
        const int row = FControls.cmbPCMFormat->Selected();
        request.Setting = FSettings.ReadDecodeSetting(row);
        request.Requested = FSettings.ReadRequestedFormat(row);
    } catch (const std::exception& e) {
        AddLog(logtext::FailureLine(e));
        AddLog(logtext::Line(txt::Id::DecodeFailed));
        other.SetEnabled(true);
        return;
    }
    request.Source = FControls.lbeSourceFile->Text();
    request.Output = FControls.lbePCMFile->Text();
    request.SongNumber = static_cast<uint32_t>(FControls.speSongNum->Value());

    if (!FSingleJob) {
        TSingleDecodeJob::Hooks hooks;
        hooks.Log = [this](const LogLine& line) { AddLog(line); };
        hooks.Started = [this](uint32_t totalMs) {
            FControls.btnSingleDecode->SetCaption(txt::Text(txt::Id::StopCaption));
            FDecodeProgress.SetTotal(totalMs);
        };
        hooks.Progress = [this](uint32_t positionMs, uint32_t totalMs) {
            SingleDecodeProgress(positionMs, totalMs);
        };
        hooks.Ended = [this] { SingleDecodeTerminate(); };
        FSingleJob = std::make_unique<TSingleDecodeJob>(std::move(hooks));
    }
    if (FDriver == nullptr || !FSingleJob->Start(*FDriver, request))
        other.SetEnabled(true);
}

void TMainWndCore::SingleDecodeStop()
{
    FSingleJob->Stop();
    FControls.btnSingleDecode->SetCaption(txt::Text(txt::Id::StartCaption));
    // Both start buttons wait for the stopped thread's end, so that no two decoder threads
    // ever exist at once.
    FControls.btnSingleDecode->SetEnabled(false);
}

void TMainWndCore::SingleDecodeProgress(uint32_t positionMs, uint32_t totalMs)
{
    FDecodeProgress.ShowPosition(positionMs, totalMs);
}

void TMainWndCore::SingleDecodeTerminate()
{
    FDecodeProgress.Clear();
    FControls.btnSingleDecode->SetCaption(txt::Text(txt::Id::StartCaption));
    FControls.btnSingleDecode->SetEnabled(true);
    FControls.btnStartMultiDecode->SetEnabled(true);
}

void TMainWndCore::btnStartMultiDecodeClick()
{
    if (FControls.btnStartMultiDecode->Caption() == txt::Text(txt::Id::StopCaption)) {
        // Only reachable while the batch waits for an entry.
        FPlaylistJob->Stop();
        return;
    }
    MultiDecodeRun();
}

void TMainWndCore::MultiDecodeRun()
{
    const std::string playlist = FControls.lbeKbmFile->Text();
    if (playlist.empty())
        return;
    DecodeSetting setting;
    SoundFormat requested{};
    try {
        const int row = FControls.cmbPcmFormatForMulti->Selected();
        setting = FSettings.ReadDecodeSetting(row);
        requested = FSettings.ReadRequestedFormat(row);
    } catch (const std::exception& e) {
        AddLog(logtext::FailureLine(e));
        AddLog(logtext::Line(txt::Id::BatchCannotStart));
        return;
    }
    if (FDriver == nullptr)
        return;

    if (!FPlaylistJob) {
        TPlaylistDecodeJob::Hooks hooks;
        hooks.Log = [this](const LogLine& line) { AddLog(line); };
        hooks.Running = [this] {
            FControls.btnSingleDecode->SetEnabled(false);
            FControls.btnStartMultiDecode->SetCaption(txt::Text(txt::Id::StopCaption));
        };
        hooks.EntryStarted = [this](uint32_t totalMs) { FIndivProgress.SetTotal(totalMs); };
        hooks.Progress = [this](uint32_t positionMs, uint32_t totalMs) {
            MultiDecodeProgress(positionMs, totalMs);
        };
        hooks.Stopped = [this] {
            FControls.btnStartMultiDecode->SetCaption(txt::Text(txt::Id::StartCaption));
            FControls.btnSingleDecode->SetEnabled(true);
        };
        hooks.Finished = [this] {
            FControls.btnStartMultiDecode->SetCaption(txt::Text(txt::Id::StartCaption));
            FIndivProgress.Clear();
            FControls.btnSingleDecode->SetEnabled(true);
        };
        FPlaylistJob = std::make_unique<TPlaylistDecodeJob>(FLoop, std::move(hooks));
    }
    FPlaylistJob->Run(*FDriver, playlist, setting, requested);

    if (FCloseAfterBatch) {
        FCloseAfterBatch = false;
        FWindow.CloseLater();
    }
}

void TMainWndCore::MultiDecodeProgress(uint32_t positionMs, uint32_t totalMs)
{
    FIndivProgress.ShowPosition(positionMs, totalMs);
}

bool TMainWndCore::FormCloseQuery()
{
    // A running batch is stopped as by its stop button; the window closes once the batch has
    // wound down, so that no decoder thread outlives it.
    if (FPlaylistJob && FPlaylistJob->Running()) {
        FCloseAfterBatch = true;
        FPlaylistJob->Stop();
        return false;
    }
    // A running decode is stopped first, so that no plug-in is unloaded under its thread; its
    // partial file is deleted as after a stop.
    if (FSingleJob && FSingleJob->ThreadAlive()) {
        if (FSingleJob->Running())
            SingleDecodeStop();
        FSingleJob->StopAndWait();
    }
    return true;
}

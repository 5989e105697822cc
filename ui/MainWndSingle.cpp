// The single-file tab: one song of one file decoded into a chosen WAV file, with its progress
// and a stop. The start button is also the stop button; its caption tells which.
#include "ui/MainWnd.h"

#include "ui/DecodeTabs.h"
#include "ui/ProgressBar.h"

#include "app/KbMD_Common.h"
#include "app/PlaylistDecoding.h"
#include "app/SongDecoding.h"
#include "kpi/kpiDriver.h"
#include "platform/Errors.h"
#include "ui/QtText.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

using namespace decodetabs;

QString decodetabs::ProgressText(uint32_t positionMs, uint32_t totalMs)
{
    return ToQString(::FormatPlayTime(positionMs) + " / " +
                     ::FormatPlayTime(static_cast<uint32_t>(BarValue(totalMs))));
}

void TfrmMain::btnSingleDecodeClick()
{
    if (btnSingleDecode->text() == kStopCaption)
        SingleDecodeStop();
    else
        SingleDecodeStart();
}

void TfrmMain::SingleDecodeStart()
{
    // A stopped decode whose thread has not ended yet holds the start back.
    if (FSingleJob && FSingleJob->Running())
        return;
    btnStartMultiDecode->setEnabled(false);
    SongDecodeRequest request;
    try {
        const int row = cmbPCMFormat->currentIndex();
        if (row < 0 || row >= SettingCount())
            throw EZoError(logtext::kNoSetting);
        request.Setting = ReadDecodeSetting(row);
        request.Requested = ReadRequestedFormat(row);
    } catch (const std::exception& e) {
        AddLog(e.what());
        AddLog(logtext::kDecodeFailed);
        btnStartMultiDecode->setEnabled(true);
        return;
    }
    request.Source = FromQString(lbeSourceFile->text());
    request.Output = FromQString(lbePCMFile->text());
    request.SongNumber = static_cast<uint32_t>(speSongNum->value());

    if (!FSingleJob) {
        TSingleDecodeJob::Hooks hooks;
        hooks.Log = [this](const std::string& line) { AddLog(line); };
        hooks.Started = [this](uint32_t totalMs) {
            btnSingleDecode->setText(kStopCaption);
            pbrDecodeProgress->SetTotal(totalMs);
        };
        hooks.Progress = [this](uint32_t positionMs, uint32_t totalMs) {
            SingleDecodeProgress(positionMs, totalMs);
        };
        hooks.Ended = [this] { SingleDecodeTerminate(); };
        FSingleJob = std::make_unique<TSingleDecodeJob>(std::move(hooks));
    }
    if (FDriver == nullptr || !FSingleJob->Start(*FDriver, request))
        btnStartMultiDecode->setEnabled(true);
}

void TfrmMain::SingleDecodeStop()
{
    FSingleJob->Stop();
    btnSingleDecode->setText(kStartCaption);
    // Both start buttons wait for the stopped thread's end, so that no two decoder threads
    // ever exist at once.
    btnSingleDecode->setEnabled(false);
}

void TfrmMain::SingleDecodeProgress(uint32_t positionMs, uint32_t totalMs)
{
    pbrDecodeProgress->SetPosition(positionMs);
    lblProgress->setText(ProgressText(positionMs, totalMs));
}

void TfrmMain::SingleDecodeTerminate()
{
    pbrDecodeProgress->SetPosition(0);
    btnSingleDecode->setText(kStartCaption);
    btnSingleDecode->setEnabled(true);
    btnStartMultiDecode->setEnabled(true);
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    // A running batch is stopped as by its stop button; the window closes once the batch has
    // wound down, so that no decoder thread outlives it.
    if (FPlaylistJob && FPlaylistJob->Running()) {
        FCloseAfterBatch = true;
        FPlaylistJob->Stop();
        event->ignore();
        return;
    }
    // A running decode is stopped first, so that no plug-in is unloaded under its thread; its
    // partial file is deleted as after a stop.
    if (FSingleJob && FSingleJob->ThreadAlive()) {
        if (FSingleJob->Running())
            SingleDecodeStop();
        FSingleJob->StopAndWait();
    }
    QMainWindow::closeEvent(event);
}

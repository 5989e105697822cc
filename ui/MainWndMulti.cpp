// The playlist tab: every entry of a KBM playlist decoded into its own WAV file beside its
// source. The click handler stays in the batch until it is over; the window keeps working and
// the same button stops the batch.
#include "ui/MainWnd.h"

#include "ui/DecodeTabs.h"
#include "ui/ProgressBar.h"

#include "app/KbMD_Common.h"
#include "app/PlaylistDecoding.h"
#include "platform/Errors.h"
#include "ui/QtMainThreadLoop.h"
#include "ui/QtText.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>

using namespace decodetabs;

void TfrmMain::btnStartMultiDecodeClick()
{
    if (btnStartMultiDecode->text() == kStopCaption) {
        // Only reachable while the batch waits for an entry.
        FPlaylistJob->Stop();
        return;
    }
    MultiDecodeRun();
}

void TfrmMain::MultiDecodeRun()
{
    if (lbeKbmFile->text().isEmpty())
        return;
    DecodeSetting setting;
    SoundFormat requested{};
    try {
        const int row = cmbPcmFormatForMulti->currentIndex();
        if (row < 0 || row >= SettingCount())
            throw EZoError(logtext::kNoSetting);
        setting = ReadDecodeSetting(row);
        requested = ReadRequestedFormat(row);
    } catch (const std::exception& e) {
        AddLog(e.what());
        AddLog(logtext::kBatchCannotStart);
        return;
    }
    if (FDriver == nullptr)
        return;

    if (!FPlaylistJob) {
        TPlaylistDecodeJob::Hooks hooks;
        hooks.Log = [this](const std::string& line) { AddLog(line); };
        hooks.Running = [this] {
            btnSingleDecode->setEnabled(false);
            btnStartMultiDecode->setText(kStopCaption);
        };
        hooks.EntryStarted = [this](uint32_t totalMs) { pbrIndivProgress->SetTotal(totalMs); };
        hooks.Progress = [this](uint32_t positionMs, uint32_t totalMs) {
            MultiDecodeProgress(positionMs, totalMs);
        };
        hooks.Stopped = [this] {
            btnStartMultiDecode->setText(kStartCaption);
            btnSingleDecode->setEnabled(true);
        };
        hooks.Finished = [this] {
            btnStartMultiDecode->setText(kStartCaption);
            pbrIndivProgress->SetPosition(0);
            btnSingleDecode->setEnabled(true);
        };
        FPlaylistJob = std::make_unique<TPlaylistDecodeJob>(*FLoop, std::move(hooks));
    }
    FPlaylistJob->Run(*FDriver, FromQString(lbeKbmFile->text()), setting, requested);

    if (FCloseAfterBatch) {
        FCloseAfterBatch = false;
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
    }
}

void TfrmMain::MultiDecodeProgress(uint32_t positionMs, uint32_t totalMs)
{
    pbrIndivProgress->SetPosition(positionMs);
    lblIndivProgress->setText(ProgressText(positionMs, totalMs));
}

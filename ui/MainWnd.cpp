// The window's start and end, and the wiring of its controls to the shared window logic.
#include "ui/MainWnd.h"

#include "app/DecodeSettings.h"
#include "qtcore/QtMainThreadLoop.h"
#include "qtcore/QtText.h"
#include "ui/ProgressBar.h"
#include "ui/QtControls.h"
#include "ui/SpinEdit.h"
#include "ui/SplashWnd.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QTabWidget>

TfrmMain::TfrmMain(IUserDialogs& dialogs, const Places& places)
    : FLoop(std::make_unique<TQtMainThreadLoop>())
{
    CreateLayout();
    FCore = std::make_unique<TMainWndCore>(CoreControls(), dialogs, *FLoop, places);
    ConnectHandlers();
    ConnectSettingHandlers();
    FCore->FormCreate();
}

TfrmMain::~TfrmMain()
{
    // While every control still exists: the settings are read from the list.
    FCore->FormDestroy();
}

TMainWndCore::Controls TfrmMain::CoreControls()
{
    const auto button = [this](QPushButton* control) {
        FButtons.push_back(std::make_unique<TQtButton>(control));
        return FButtons.back().get();
    };
    const auto edit = [this](QLineEdit* control) {
        FTexts.push_back(std::make_unique<TQtEdit>(control));
        return FTexts.back().get();
    };
    const auto label = [this](QLabel* control) {
        FTexts.push_back(std::make_unique<TQtLabel>(control));
        return FTexts.back().get();
    };
    const auto choice = [this](QComboBox* control) {
        FChoices.push_back(std::make_unique<TQtChoice>(control));
        return FChoices.back().get();
    };
    const auto number = [](QSpinBox* control) { return static_cast<TZoSpinEdit*>(control); };

    FClipboard = std::make_unique<TQtClipboard>();
    FSettingGroup = std::make_unique<TQtGroup>(grpModifySetting);
    FSettingList = std::make_unique<TQtSettingsList>(lvwDecodeSettings);
    TMainWndCore::Controls c;
    c.Window = this;
    c.lblVersion = label(lblVersion);
    c.lstLog = FLogList.get();
    c.Clipboard = FClipboard.get();
    c.lbeSourceFile = edit(lbeSourceFile);
    c.lbePCMFile = edit(lbePCMFile);
    c.speSongNum = number(speSongNum);
    c.cmbPCMFormat = choice(cmbPCMFormat);
    c.btnSingleDecode = button(btnSingleDecode);
    c.pbrDecodeProgress = pbrDecodeProgress;
    c.lblProgress = label(lblProgress);
    c.lbeKbmFile = edit(lbeKbmFile);
    c.cmbPcmFormatForMulti = choice(cmbPcmFormatForMulti);
    c.btnStartMultiDecode = button(btnStartMultiDecode);
    c.pbrIndivProgress = pbrIndivProgress;
    c.lblIndivProgress = label(lblIndivProgress);
    c.Settings.lvwDecodeSettings = FSettingList.get();
    c.Settings.btnRenameSetting = button(btnRenameSetting);
    c.Settings.btnDeleteSetting = button(btnDeleteSetting);
    c.Settings.grpModifySetting = FSettingGroup.get();
    c.Settings.speSamplingFrequency = number(speSamplingFrequency);
    c.Settings.cmbSampleFormat = choice(cmbSampleFormat);
    c.Settings.speChannels = number(speChannels);
    c.Settings.speDefaultLength = number(speDefaultLength);
    c.Settings.speFadeoutLength = number(speFadeoutLength);
    return c;
}

void TfrmMain::ConnectHandlers()
{
    TMainWndCore* core = FCore.get();
    connect(btnBrowse, &QPushButton::clicked, this, [core] { core->btnBrowseClick(); });
    connect(btnBrowsePCM, &QPushButton::clicked, this, [core] { core->btnBrowsePCMClick(); });
    connect(btnBrowseForKbm, &QPushButton::clicked, this, [core] { core->btnBrowseForKbmClick(); });
    connect(btnSingleDecode, &QPushButton::clicked, this, [core] { core->btnSingleDecodeClick(); });
    connect(btnStartMultiDecode, &QPushButton::clicked, this,
            [core] { core->btnStartMultiDecodeClick(); });
    connect(mnuCopyLogEntry, &QAction::triggered, this, [core] { core->mnuCopyLogEntryClick(); });
    connect(mnuSaveLogs, &QAction::triggered, this, [core] { core->mnuSaveLogsClick(); });
}

void TfrmMain::AddLog(const LogLine& line)
{
    FCore->AddLog(line);
}

TZoKpiDriver* TfrmMain::Driver()
{
    return FCore->Driver();
}

void TfrmMain::FillPcmFormatLists()
{
    FCore->Settings().FillPcmFormatLists();
}

DecodeSetting TfrmMain::ReadDecodeSetting(int index) const
{
    return FCore->Settings().ReadDecodeSetting(index);
}

SoundFormat TfrmMain::ReadRequestedFormat(int index) const
{
    return FCore->Settings().ReadRequestedFormat(index);
}

void TfrmMain::SetPagesEnabled(bool enabled)
{
    pgDecodeMode->setEnabled(enabled);
}

void TfrmMain::ShowFirstPage()
{
    pgDecodeMode->setCurrentIndex(0);
}

void TfrmMain::ShowSplash()
{
    FSplash = new TfrmSplash(this);
    FSplash->show();
}

void TfrmMain::SetSplashStatus(const std::string& text)
{
    if (FSplash != nullptr)
        FSplash->SetStatus(ToQString(text));
}

void TfrmMain::ReleaseSplash()
{
    if (FSplash == nullptr)
        return;
    FSplash->close();
    FSplash->deleteLater();
    FSplash = nullptr;
}

void TfrmMain::ProcessMessages()
{
    QCoreApplication::processEvents();
}

void TfrmMain::ShowWindow()
{
    show();
}

void TfrmMain::CloseLater()
{
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    if (!FCore->FormCloseQuery()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

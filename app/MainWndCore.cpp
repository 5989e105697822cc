// The window's start and end, the log panel, the browse buttons and the About tab's links.
#include "app/MainWndCore.h"

#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "app/LogLines.h"
#include "app/MainThreadLoop.h"
#include "app/MainWndTexts.h"
#include "app/PlaylistDecoding.h"
#include "app/ProgramFiles.h"
#include "app/SongDecoding.h"
#include "app/UserDialogs.h"
#include "app/Version.h"
#include "app/WindowControls.h"
#include "kpi/KPI.h"
#include "kpi/kpiDriver.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

namespace {

TDecodeSettingsTab::Controls WithDecodeLists(const TMainWndCore::Controls& controls)
{
    TDecodeSettingsTab::Controls settings = controls.Settings;
    settings.cmbPCMFormat = controls.cmbPCMFormat;
    settings.cmbPcmFormatForMulti = controls.cmbPcmFormatForMulti;
    return settings;
}

} // namespace

int LogIconIndex(const std::string& line)
{
    // The Japanese words that carry a line's severity, エラー (error) and 警告 (warning): this
    // derivation holds for every Japanese line of the table, whose severities are checked
    // against it.
    if (line.find("\u30A8\u30E9\u30FC") != std::string::npos)
        return 2;
    if (line.find("\u8B66\u544A") != std::string::npos)
        return 1;
    return 0;
}

TMainWndCore::TMainWndCore(const Controls& controls, IUserDialogs& dialogs, IMainThreadLoop& loop,
                           const Places& places)
    : FControls(controls), FWindow(*controls.Window), FDialogs(dialogs), FLoop(loop),
      FPlaces(places), FSettings(WithDecodeLists(controls), dialogs),
      FDecodeProgress(*controls.pbrDecodeProgress, *controls.lblProgress),
      FIndivProgress(*controls.pbrIndivProgress, *controls.lblIndivProgress)
{
    BindHandlers();
}

void TMainWndCore::BindHandlers()
{
    const Controls& c = FControls;
    c.mnuCopyLogEntry->OnClick = [this] { mnuCopyLogEntryClick(); };
    c.mnuSaveLogs->OnClick = [this] { mnuSaveLogsClick(); };
    c.lstLog->OnKeyDown = [this](char key, bool control) { return lstLogKeyDown(key, control); };
    c.btnBrowse->OnClick = [this] { btnBrowseClick(); };
    c.btnBrowsePCM->OnClick = [this] { btnBrowsePCMClick(); };
    c.btnBrowseForKbm->OnClick = [this] { btnBrowseForKbmClick(); };
    c.btnSingleDecode->OnClick = [this] { btnSingleDecodeClick(); };
    c.btnStartMultiDecode->OnClick = [this] { btnStartMultiDecodeClick(); };
    // Both links share the one handler, which takes the address from the link clicked.
    for (ILinkControl* link : {c.lblQuenzWeb, c.lblEmail})
        link->OnClick = [this, link] { lblQuenzWebClick(link->Caption()); };
}

TMainWndCore::~TMainWndCore()
{
    FormDestroy();
}

void TMainWndCore::FormCreate()
{
    FControls.lblVersion->SetText(wndtext::VersionLabel(FileVersionText()));
    FWindow.ShowFirstPage();
    FWindow.SetPagesEnabled(false);
    FWindow.ShowSplash();

    std::string startError;
    try {
        AddLog(logtext::VersionLine());
        if (const auto ignored = logtext::IgnoredLanguageLine())
            AddLog(*ignored);
        const std::string bundled = FPlaces.BundledPluginFolder.value_or(BundledPluginFolder());
        const std::string folder = ResolvePluginFolder(FDialogs, bundled);
        // A cancelled question ends the program: nothing is loaded and the window stays hidden.
        if (!EndRequested()) {
            AddLog(logtext::LoadingFromLine(folder));
            FDriver = std::make_unique<TZoKpiDriver>();
            if (!FDriver->IgnoredTimeLimit.empty())
                AddLog(logtext::TimeLimitIgnoredLine(FDriver->IgnoredTimeLimit));
            // Where the command line keeps it too: beside the program, or for an installed
            // copy in the user's cache folder.
            FDriver->CacheFolder =
                FPlaces.CacheFolder.empty() ? PluginCacheFolder() : FPlaces.CacheFolder;
            FDriver->OnPluginLoaded = [this](TZoKpi& plugin) { return PluginLoaded(plugin); };
            FDriver->OnPluginLoadFailed = [this](const std::string& name,
                                                 const std::string& reason) {
                PluginLoadFailed(name, reason);
            };
            FDriver->OnCacheSaveFailed = [this](const std::string& path) {
                AddLog(logtext::Line(txt::Id::CacheNotWritten, {path}));
            };
            // The scan moves the current folder; paths the user types stay relative to the
            // folder the program was started in.
            const std::string startFolder = platform::CurrentFolder();
            FDriver->LoadFolder(ResolvePluginFolder(FDialogs, bundled));
            platform::SetCurrentFolder(startFolder);
            const size_t count = FDriver->Plugins().size();
            AddLog(logtext::PluginCountLine(count));
            ShowSplashStatus(wndtext::SplashCountStatus(count));
        }
    } catch (const std::exception& e) {
        startError = e.what();
    }

    FWindow.SetPagesEnabled(true);
    // Every line it gives is a warning: a stored number held to its range.
    for (const std::string& line : FSettings.LoadDecodeSettings(AppRegistry->Store()))
        AddLog({txt::Severity::Warning, line});
    FSettings.EnableSettingEditors(false);
    FSettings.FillPcmFormatLists();
    FWindow.ReleaseSplash();
    if (!EndRequested())
        FWindow.ShowWindow();
    FWindow.SetPagesEnabled(true);
    // Shown over the window, which is usable once the box is closed.
    if (!startError.empty())
        FDialogs.ShowError(startError);
}

void TMainWndCore::FormDestroy()
{
    if (FDestroyed)
        return;
    FDestroyed = true;
    // A decode still going is stopped before its plug-in goes away.
    if (FSingleJob)
        FSingleJob->StopAndWait();
    FSingleJob.reset();
    FPlaylistJob.reset();
    // Freeing the driver writes the plug-in cache and unloads every plug-in.
    FDriver.reset();
    FSettings.SaveDecodeSettings(AppRegistry->Store());
}

bool TMainWndCore::PluginLoaded(TZoKpi& plugin)
{
    const LogLine line = logtext::PluginLoadedLine(plugin);
    AddLog(line);
    ShowSplashStatus(line.Text);
    return true; // every plug-in that loads is enabled
}

void TMainWndCore::PluginLoadFailed(const std::string& fileName, const std::string& reason)
{
    const LogLine line = logtext::PluginLoadFailedLine(fileName);
    AddLog(line);
    AddLog(logtext::PluginLoadFailedReasonLine(reason));
    ShowSplashStatus(line.Text);
}

void TMainWndCore::ShowSplashStatus(const std::string& text)
{
    FWindow.SetSplashStatus(text);
    // Let the splash window repaint while the plug-ins load.
    FWindow.ProcessMessages();
}

void TMainWndCore::AddLog(const LogLine& line)
{
    FControls.lstLog->Add(line.Text, static_cast<int>(line.Level));
    if (RunLog != nullptr)
        RunLog->Add(line.Text);
}

void TMainWndCore::mnuCopyLogEntryClick()
{
    FControls.Clipboard->Clear();
    if (const auto line = FControls.lstLog->SelectedLine())
        FControls.Clipboard->SetText(*line);
}

void TMainWndCore::mnuSaveLogsClick()
{
    const auto name = FDialogs.SaveFile(txt::Text(txt::Id::LogFileFilter));
    if (!name)
        return;
    try {
        RunLog->SaveToFile(*name); // the name as chosen: no extension is added
    } catch (const std::exception& e) {
        FDialogs.ShowError(e.what());
    }
}

bool TMainWndCore::lstLogKeyDown(char key, bool control)
{
    if (!control)
        return false;
    if (key == 'S' || key == 's') {
        mnuSaveLogsClick();
        return true;
    }
    if (key == 'C' || key == 'c') {
        mnuCopyLogEntryClick();
        return true;
    }
    return false;
}

void TMainWndCore::btnBrowseClick()
{
    const auto name = FDialogs.OpenFile(txt::Text(txt::Id::AudioFileFilter));
    if (!name)
        return;
    FControls.lbeSourceFile->SetText(*name);
    // The output lies beside the source.
    FControls.lbePCMFile->SetText(platform::ChangeFileExt(*name, ".wav"));
}

void TMainWndCore::btnBrowsePCMClick()
{
    if (const auto name = FDialogs.SaveFile(txt::Text(txt::Id::WaveFileFilter)))
        FControls.lbePCMFile->SetText(*name); // as chosen: no extension is added
}

void TMainWndCore::btnBrowseForKbmClick()
{
    if (const auto name = FDialogs.OpenFile(txt::Text(txt::Id::PlaylistFilter)))
        FControls.lbeKbmFile->SetText(*name);
}

void TMainWndCore::lblQuenzWebClick(const std::string& caption)
{
    FDialogs.OpenAddress(caption);
}

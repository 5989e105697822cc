// The main window's behaviour, whichever toolkit draws it: the creation step that loads the
// plug-ins behind the splash window and the destruction step that frees them, the log panel's
// commands, the browse buttons, the About tab's links, the two decode tabs and the decode
// settings tab. A window program builds its controls, hands them over through the interfaces
// of WindowControls.h (NamedControls) and runs FormCreate; before its controls go it runs
// FormDestroy. The core binds each control's events to the handlers here, named after the
// control and the event, when it is made; the window's adapters only report them.
//
// Threads: everything here runs on the main thread. Decoder threads reach it only through their
// progress and end handlers, which run on the main thread while the worker waits. The playlist
// tab's click handler waits for each entry in the main-thread loop, so that the window's events,
// a stop click included, are handled meanwhile.
#pragma once

#include "app/DecodeSettingsTab.h"
#include "app/LogLines.h"
#include "app/ProgressGauge.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class IButtonControl;
class IChoiceControl;
class IClipboard;
class IGaugeControl;
class ILinkControl;
class ILogListControl;
class IMainThreadLoop;
class IMainWindowView;
class IMenuItemControl;
class INumberControl;
class ITextControl;
class IUserDialogs;
class TPlaylistDecodeJob;
class TSingleDecodeJob;
class TZoKpi;
class TZoKpiDriver;

// The severity that a Japanese line's words give it, as the log list's icon: 2 (error) for a line
// that holds the word for error, else 1 (warning) for one that holds the word for warning, else
// 0. The log itself takes each line's severity from the line; this is what that severity must
// agree with for every Japanese line.
int LogIconIndex(const std::string& line);

class TMainWndCore {
public:
    // Where a window looks for things that the program otherwise finds beside itself; tests
    // choose their own.
    struct Places {
        std::string CacheFolder; // empty: where the programs keep it (PluginCacheFolder)
        std::optional<std::string> BundledPluginFolder; // none: the one installed with it
    };
    struct Controls {
        IMainWindowView* Window = nullptr;
        // The About tab.
        ITextControl* lblVersion = nullptr;
        ILinkControl* lblQuenzWeb = nullptr;
        ILinkControl* lblEmail = nullptr;
        // The log panel.
        ILogListControl* lstLog = nullptr;
        IMenuItemControl* mnuCopyLogEntry = nullptr;
        IMenuItemControl* mnuSaveLogs = nullptr;
        IClipboard* Clipboard = nullptr;
        // Single file.
        ITextControl* lbeSourceFile = nullptr;
        IButtonControl* btnBrowse = nullptr;
        ITextControl* lbePCMFile = nullptr;
        IButtonControl* btnBrowsePCM = nullptr;
        INumberControl* speSongNum = nullptr;
        IChoiceControl* cmbPCMFormat = nullptr;
        IButtonControl* btnSingleDecode = nullptr;
        IGaugeControl* pbrDecodeProgress = nullptr;
        ITextControl* lblProgress = nullptr;
        // Playlist.
        ITextControl* lbeKbmFile = nullptr;
        IButtonControl* btnBrowseForKbm = nullptr;
        IChoiceControl* cmbPcmFormatForMulti = nullptr;
        IButtonControl* btnStartMultiDecode = nullptr;
        IGaugeControl* pbrIndivProgress = nullptr;
        ITextControl* lblIndivProgress = nullptr;
        // Decode settings; the decode tabs' lists are taken from above.
        TDecodeSettingsTab::Controls Settings;
    };

    // The settings list gets its built-in rows and the controls their handlers; nothing else
    // happens until FormCreate.
    TMainWndCore(const Controls& controls, IUserDialogs& dialogs, IMainThreadLoop& loop,
                 const Places& places = Places());
    ~TMainWndCore();
    TMainWndCore(const TMainWndCore&) = delete;
    TMainWndCore& operator=(const TMainWndCore&) = delete;

    // The visible start: the splash window, the plug-in folder, the plug-ins, the decode
    // settings; then the window shows itself, unless the end of the program was requested.
    void FormCreate();
    // Stops what still runs, frees the plug-in driver (which writes the plug-in cache) and
    // stores the decode settings. Runs once; the controls must still exist.
    void FormDestroy();
    // Whether the window may close now. A running batch is stopped first and the window is
    // closed once the batch has wound down; a running decode is stopped and waited for.
    bool FormCloseQuery();

    // Appends a line to the log list, with its severity's icon, and to the run log.
    void AddLog(const LogLine& line);
    TZoKpiDriver* Driver() { return FDriver.get(); }
    TDecodeSettingsTab& Settings() { return FSettings; }

    // Event handlers, each bound to its control's event.
    // The log panel. The keys work while the log list has the focus (Ctrl with any other
    // modifiers); true when the key was one of them.
    void mnuCopyLogEntryClick();
    void mnuSaveLogsClick();
    bool lstLogKeyDown(char key, bool control);
    // The browse buttons and the About tab's links.
    void btnBrowseClick();
    void btnBrowsePCMClick();
    void btnBrowseForKbmClick();
    // Both links: the address they show goes to the system.
    void lblQuenzWebClick(const std::string& caption);
    // The decode tabs' start buttons, which are also their stop buttons.
    void btnSingleDecodeClick();
    void btnStartMultiDecodeClick();

private:
    void BindHandlers();
    bool PluginLoaded(TZoKpi& plugin);
    void PluginLoadFailed(const std::string& fileName, const std::string& reason);
    void ShowSplashStatus(const std::string& text);

    void SingleDecodeStart();
    void SingleDecodeStop();
    void SingleDecodeProgress(uint32_t positionMs, uint32_t totalMs);
    void SingleDecodeTerminate();
    void MultiDecodeRun();
    void MultiDecodeProgress(uint32_t positionMs, uint32_t totalMs);

    Controls FControls;
    IMainWindowView& FWindow;
    IUserDialogs& FDialogs;
    IMainThreadLoop& FLoop;
    Places FPlaces;
    TDecodeSettingsTab FSettings;
    TProgressGauge FDecodeProgress;
    TProgressGauge FIndivProgress;
    std::unique_ptr<TZoKpiDriver> FDriver;
    std::unique_ptr<TSingleDecodeJob> FSingleJob;
    std::unique_ptr<TPlaylistDecodeJob> FPlaylistJob;
    bool FCloseAfterBatch = false;
    bool FDestroyed = false;
};

// A window's controls for the core, from a window whose members carry the controls' names
// (btnBrowse, lstLog, ...) through the adapters of its toolkit: make.Button(window.btnBrowse)
// wraps that button, and so on; make.View() is the window itself. Both windows hand their
// controls over by this one list, so that neither leaves one out.
template <class Window, class Adapters>
TMainWndCore::Controls NamedControls(Window& window, Adapters& make)
{
    TMainWndCore::Controls c;
    c.Window = make.View();
    c.lblVersion = make.Text(window.lblVersion);
    c.lblQuenzWeb = make.Link(window.lblQuenzWeb);
    c.lblEmail = make.Link(window.lblEmail);
    c.lstLog = make.LogList(window.lstLog);
    c.mnuCopyLogEntry = make.MenuItem(window.mnuCopyLogEntry);
    c.mnuSaveLogs = make.MenuItem(window.mnuSaveLogs);
    c.Clipboard = make.Clipboard();
    c.lbeSourceFile = make.Text(window.lbeSourceFile);
    c.btnBrowse = make.Button(window.btnBrowse);
    c.lbePCMFile = make.Text(window.lbePCMFile);
    c.btnBrowsePCM = make.Button(window.btnBrowsePCM);
    c.speSongNum = make.Number(window.speSongNum);
    c.cmbPCMFormat = make.Choice(window.cmbPCMFormat);
    c.btnSingleDecode = make.Button(window.btnSingleDecode);
    c.pbrDecodeProgress = make.Gauge(window.pbrDecodeProgress);
    c.lblProgress = make.Text(window.lblProgress);
    c.lbeKbmFile = make.Text(window.lbeKbmFile);
    c.btnBrowseForKbm = make.Button(window.btnBrowseForKbm);
    c.cmbPcmFormatForMulti = make.Choice(window.cmbPcmFormatForMulti);
    c.btnStartMultiDecode = make.Button(window.btnStartMultiDecode);
    c.pbrIndivProgress = make.Gauge(window.pbrIndivProgress);
    c.lblIndivProgress = make.Text(window.lblIndivProgress);
    TDecodeSettingsTab::Controls& s = c.Settings;
    s.lvwDecodeSettings = make.SettingsList(window.lvwDecodeSettings);
    s.btnAddSetting = make.Button(window.btnAddSetting);
    s.btnRenameSetting = make.Button(window.btnRenameSetting);
    s.btnDeleteSetting = make.Button(window.btnDeleteSetting);
    s.grpModifySetting = make.Group(window.grpModifySetting);
    s.speSamplingFrequency = make.Number(window.speSamplingFrequency);
    s.cmbSampleFormat = make.Choice(window.cmbSampleFormat);
    s.speChannels = make.Number(window.speChannels);
    s.speDefaultLength = make.Number(window.speDefaultLength);
    s.speFadeoutLength = make.Number(window.speFadeoutLength);
    return c;
}

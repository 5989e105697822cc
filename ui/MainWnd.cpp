// The window's start and end: the creation step that loads the plug-ins behind the splash
// window, the driver's events, and the destruction step.
#include "ui/MainWnd.h"

#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "app/LogLines.h"
#include "app/PlaylistDecoding.h"
#include "app/ProgramFiles.h"
#include "app/SongDecoding.h"
#include "app/UserDialogs.h"
#include "app/Version.h"
#include "kpi/KPI.h"
#include "kpi/kpiDriver.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "ui/QtMainThreadLoop.h"
#include "ui/QtText.h"
#include "ui/SplashWnd.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

#include <cstdio>

TfrmMain::TfrmMain(IUserDialogs& dialogs, const Places& places)
    : FDialogs(dialogs), FPlaces(places), FLoop(std::make_unique<TQtMainThreadLoop>())
{
    CreateLayout();
    connect(btnBrowse, &QPushButton::clicked, this, [this] { btnBrowseClick(); });
    connect(btnBrowsePCM, &QPushButton::clicked, this, [this] { btnBrowsePCMClick(); });
    connect(btnBrowseForKbm, &QPushButton::clicked, this, [this] { btnBrowseForKbmClick(); });
    connect(btnSingleDecode, &QPushButton::clicked, this, [this] { btnSingleDecodeClick(); });
    connect(btnStartMultiDecode, &QPushButton::clicked, this,
            [this] { btnStartMultiDecodeClick(); });
    ConnectSettingHandlers();
    FormCreate();
}

TfrmMain::~TfrmMain()
{
    FormDestroy();
}

void TfrmMain::FormCreate()
{
    lblVersion->setText(QStringLiteral("Version ") + ToQString(FileVersionText()) +
                        QStringLiteral(" (debug)"));
    pgDecodeMode->setCurrentIndex(0);
    pgDecodeMode->setEnabled(false);

    FSplash = new TfrmSplash(this);
    FSplash->show();

    std::string startError;
    try {
        AddLog(logtext::VersionLine());
        const std::string bundled = FPlaces.BundledPluginFolder.value_or(BundledPluginFolder());
        const std::string folder = ResolvePluginFolder(FDialogs, bundled);
        // A cancelled question ends the program: nothing is loaded and the window stays hidden.
        if (!EndRequested()) {
            AddLog(logtext::LoadingFromLine(folder));
            FDriver = std::make_unique<TZoKpiDriver>();
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
                AddLog("  警告: プラグインキャッシュ " + path + " を書き込めませんでした");
            };
            // The scan moves the current folder; paths the user types stay relative to the
            // folder the program was started in.
            const std::string startFolder = platform::CurrentFolder();
            FDriver->LoadFolder(ResolvePluginFolder(FDialogs, bundled));
            platform::SetCurrentFolder(startFolder);
            const size_t count = FDriver->Plugins().size();
            AddLog(logtext::PluginCountLine(count));
            ShowSplashStatus(std::to_string(count) + " 個のプラグインをロード");
        }
    } catch (const std::exception& e) {
        startError = e.what();
    }

    pgDecodeMode->setEnabled(true);
    LoadDecodeSettings();
    EnableSettingEditors(false);
    FillPcmFormatLists();
    FSplash->close();
    FSplash->deleteLater();
    FSplash = nullptr;
    if (!EndRequested())
        show();
    pgDecodeMode->setEnabled(true);
    // Shown over the window, which is usable once the box is closed.
    if (!startError.empty())
        FDialogs.ShowError(startError);
}

void TfrmMain::FormDestroy()
{
    // A decode still going is stopped before its plug-in goes away.
    if (FSingleJob)
        FSingleJob->StopAndWait();
    FSingleJob.reset();
    FPlaylistJob.reset();
    // Freeing the driver writes the plug-in cache and unloads every plug-in.
    FDriver.reset();
    SaveDecodeSettings();
}

bool TfrmMain::PluginLoaded(TZoKpi& plugin)
{
    const std::string line = logtext::PluginLoadedLine(plugin);
    AddLog(line);
    ShowSplashStatus(line);
    return true;
}

void TfrmMain::PluginLoadFailed(const std::string& fileName, const std::string& reason)
{
    const std::string line = logtext::PluginLoadFailedLine(fileName);
    AddLog(line);
    AddLog(logtext::PluginLoadFailedReasonLine(reason));
    ShowSplashStatus(line);
}

void TfrmMain::ShowSplashStatus(const std::string& text)
{
    if (FSplash != nullptr)
        FSplash->SetStatus(ToQString(text));
    // Let the splash window repaint while the plug-ins load.
    QCoreApplication::processEvents();
}

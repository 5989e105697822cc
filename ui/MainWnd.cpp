// The window's start and end: the creation step that loads the plug-ins behind the splash
// window, the driver's events, and the destruction step.
#include "ui/MainWnd.h"

#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "app/PlaylistDecoding.h"
#include "app/SongDecoding.h"
#include "app/SplashWnd.h"
#include "app/UserDialogs.h"
#include "app/Version.h"
#include "kpi/KPI.h"
#include "kpi/kpiDriver.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

#include <cstdio>

namespace {

std::string Format(const char* pattern, const std::string& text)
{
    std::string result = pattern;
    const size_t at = result.find("%s");
    return at == std::string::npos ? result : result.replace(at, 2, text);
}

std::string Format(const char* pattern, long long number)
{
    std::string result = pattern;
    const size_t at = result.find("%d");
    return at == std::string::npos ? result : result.replace(at, 2, std::to_string(number));
}

} // namespace

TfrmMain::TfrmMain(IUserDialogs& dialogs, const Places& places) : FDialogs(dialogs), FPlaces(places)
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

    try {
        AddLog(Format("Pellan Decoder Version %s デバッグ版", FileVersionText()));
        const std::string bundled = FPlaces.BundledPluginFolder.value_or(BundledPluginFolder());
        const std::string folder = ResolvePluginFolder(FDialogs, bundled);
        // A cancelled question ends the program: nothing is loaded and the window stays hidden.
        if (!EndRequested()) {
            AddLog("プラグインを " + folder + " からロードします");
            FDriver = std::make_unique<TZoKpiDriver>();
            if (!FPlaces.CacheFolder.empty())
                FDriver->CacheFolder = FPlaces.CacheFolder;
            FDriver->OnPluginLoaded = [this](TZoKpi& plugin) { return PluginLoaded(plugin); };
            FDriver->OnPluginLoadFailed = [this](const std::string& name) {
                PluginLoadFailed(name);
            };
            FDriver->OnCacheSaveFailed = [this](const std::string& path) {
                AddLog(Format("  警告: プラグインキャッシュ %s を書き込めませんでした", path));
            };
            // The scan moves the current folder; paths the user types stay relative to the
            // folder the program was started in.
            const std::string startFolder = platform::CurrentFolder();
            FDriver->LoadFolder(ResolvePluginFolder(FDialogs, bundled));
            platform::SetCurrentFolder(startFolder);
            const long long count = static_cast<long long>(FDriver->Plugins().size());
            AddLog(Format("%d 個のプラグインをロードしました", count));
            ShowSplashStatus(Format("%d 個のプラグインをロード", count));
        }
    } catch (const std::exception& e) {
        FDialogs.ShowError(e.what());
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
    // The version is shown as the 32 bits read as a signed number.
    const std::string line =
        Format(Format("  %s ver.%d をロードしました", platform::ExtractFileName(plugin.FileName()))
                   .c_str(),
               static_cast<long long>(static_cast<int32_t>(plugin.PluginVersion())));
    AddLog(line);
    ShowSplashStatus(line);
    return true;
}

void TfrmMain::PluginLoadFailed(const std::string& fileName)
{
    const std::string line = Format("  警告: %s のロードに失敗しました", fileName);
    AddLog(line);
    ShowSplashStatus(line);
}

void TfrmMain::ShowSplashStatus(const std::string& text)
{
    if (FSplash != nullptr)
        FSplash->SetStatus(ToQString(text));
    // Let the splash window repaint while the plug-ins load.
    QCoreApplication::processEvents();
}

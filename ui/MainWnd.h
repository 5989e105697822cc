// The program's working window: the decode tabs, the decode settings, the About tab and the
// log panel. A main window rather than a plain widget, so that assistive technology announces
// it as the application's window. Its creation step does the visible start of the program; its
// destruction frees the plug-in driver and stores the decode settings.
#pragma once

#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class IUserDialogs;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QAction;
class QPushButton;
class QSpinBox;
class QSplitter;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TZoKpi;
class TZoKpiDriver;
class TfrmSplash;
class TSingleDecodeJob;
class TPlaylistDecodeJob;
class TQtMainThreadLoop;
class TZoProgressBar;
struct DecodeSetting;
struct DecodeSettingRow;
struct SoundFormat;

class TfrmMain : public QMainWindow {
public:
    // Where a window looks for things that the program otherwise finds beside itself; tests
    // choose their own.
    struct Places {
        std::string CacheFolder; // empty: where the programs keep it (PluginCacheFolder)
        std::optional<std::string> BundledPluginFolder; // none: the one installed with it
    };
    // Runs the creation step at once.
    explicit TfrmMain(IUserDialogs& dialogs, const Places& places = Places());
    ~TfrmMain() override;

    // Appends a line to the log list and to the run log.
    void AddLog(const std::string& line);
    // 2 for a line with "エラー", else 1 for one with "警告", else 0.
    static int LogIconIndex(const std::string& line);

    TZoKpiDriver* Driver() { return FDriver.get(); }

    // Decode settings: the rows of the settings list are the settings.
    void LoadDecodeSettings();
    void SaveDecodeSettings();
    void FillPcmFormatLists();
    void EnableSettingEditors(bool enabled);
    // The setting of row index; throws EZoError for a row that does not convert.
    DecodeSetting ReadDecodeSetting(int index) const;
    SoundFormat ReadRequestedFormat(int index) const;
    DecodeSettingRow SettingRow(int index) const;
    int SettingCount() const;

    // Layout, in creation order.
    QTabWidget* pgDecodeMode = nullptr;
    QWidget* tbsSingleFile = nullptr;
    QWidget* tbsMultipleFiles = nullptr;
    QWidget* tbsSettings = nullptr;
    QWidget* tabAbout = nullptr;
    QSplitter* splSplitter = nullptr;
    QListWidget* lstLog = nullptr;
    QMenu* pmnuLog = nullptr;
    QAction* mnuCopyLogEntry = nullptr;
    QAction* mnuSaveLogs = nullptr;

    // Single file.
    QLineEdit* lbeSourceFile = nullptr;
    QPushButton* btnBrowse = nullptr;
    QLineEdit* lbePCMFile = nullptr;
    QPushButton* btnBrowsePCM = nullptr;
    QSpinBox* speSongNum = nullptr;
    QComboBox* cmbPCMFormat = nullptr;
    QPushButton* btnSingleDecode = nullptr;
    TZoProgressBar* pbrDecodeProgress = nullptr;
    QLabel* lblProgress = nullptr;

    // Playlist.
    QLineEdit* lbeKbmFile = nullptr;
    QPushButton* btnBrowseForKbm = nullptr;
    QComboBox* cmbPcmFormatForMulti = nullptr;
    QPushButton* btnStartMultiDecode = nullptr;
    TZoProgressBar* pbrIndivProgress = nullptr;
    QLabel* lblIndivProgress = nullptr;

    // Decode settings.
    QTreeWidget* lvwDecodeSettings = nullptr;
    QPushButton* btnAddSetting = nullptr;
    QPushButton* btnRenameSetting = nullptr;
    QPushButton* btnDeleteSetting = nullptr;
    QGroupBox* grpModifySetting = nullptr;
    QSpinBox* speSamplingFrequency = nullptr;
    QComboBox* cmbSampleFormat = nullptr;
    QSpinBox* speChannels = nullptr;
    QSpinBox* speDefaultLength = nullptr;
    QSpinBox* speFadeoutLength = nullptr;

    // About.
    QLabel* lblVersion = nullptr;
    QLabel* lblQuenzWeb = nullptr;
    QLabel* lblEmail = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateLayout();
    QWidget* CreateSingleFileTab();
    QWidget* CreateMultipleFilesTab();
    QWidget* CreateSettingsTab();
    QWidget* CreateAboutTab();
    void CreateLogPanel();

    void FormCreate();
    void FormDestroy();
    bool PluginLoaded(TZoKpi& plugin);
    void PluginLoadFailed(const std::string& fileName, const std::string& reason);
    void ShowSplashStatus(const std::string& text);

    void mnuCopyLogEntryClick();
    void mnuSaveLogsClick();
    void btnBrowseClick();
    void btnBrowsePCMClick();
    void btnBrowseForKbmClick();
    void lblQuenzWebClick(QLabel* label);

    // Decode settings.
    void ConnectSettingHandlers();
    void AddSettingRow(const DecodeSettingRow& row);
    void ShowDecodeSetting(QTreeWidgetItem* item);
    QTreeWidgetItem* SelectedSetting() const;
    // Why name cannot be the new name of item ("" when it can).
    std::string RefuseSettingName(const std::string& name, const QTreeWidgetItem* item) const;
    void btnAddSettingClick();
    void btnRenameSettingClick();
    void btnDeleteSettingClick();
    void lvwDecodeSettingsSelectItem(QTreeWidgetItem* item);
    void lvwDecodeSettingsClick();
    void lvwDecodeSettingsChange();
    void SpinChange(QSpinBox* box, int column);
    void cmbSampleFormatChange();

    // Single-file decoding.
    void btnSingleDecodeClick();
    void SingleDecodeStart();
    void SingleDecodeStop();
    void SingleDecodeProgress(uint32_t positionMs, uint32_t totalMs);
    void SingleDecodeTerminate();

    // Playlist decoding.
    void btnStartMultiDecodeClick();
    void MultiDecodeRun();
    void MultiDecodeProgress(uint32_t positionMs, uint32_t totalMs);

    IUserDialogs& FDialogs;
    Places FPlaces;
    std::unique_ptr<TZoKpiDriver> FDriver;
    TfrmSplash* FSplash = nullptr;
    std::unique_ptr<TSingleDecodeJob> FSingleJob;
    std::unique_ptr<TPlaylistDecodeJob> FPlaylistJob;
    // The playlist job waits for each entry on Qt's event loop, so the window stays usable.
    std::unique_ptr<TQtMainThreadLoop> FLoop;
    bool FCloseAfterBatch = false;
    bool FSettingRowWritesOff = false;
};

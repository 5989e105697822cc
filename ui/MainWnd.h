// The program's working window on Qt: the decode tabs, the decode settings, the About tab and
// the log panel. A main window rather than a plain widget, so that assistive technology
// announces it as the application's window. What the window does is the shared window logic
// (TMainWndCore); this class builds the controls and hands them to it, which binds their events.
#pragma once

#include "app/MainWndCore.h"
#include "app/WindowControls.h"

#include <QMainWindow>

#include <memory>
#include <string>
#include <vector>

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
class TZoKpiDriver;
class TfrmSplash;
class TQtMainThreadLoop;
class TZoProgressBar;
class TZoSpinEdit;
struct DecodeSetting;
struct DecodeSettingRow;
struct SoundFormat;

class TfrmMain : public QMainWindow, private IMainWindowView {
public:
    using Places = TMainWndCore::Places;
    // Runs the creation step at once.
    explicit TfrmMain(IUserDialogs& dialogs, const Places& places = Places());
    ~TfrmMain() override;

    // Appends a line to the log list, with its severity's icon, and to the run log.
    void AddLog(const LogLine& line);
    TZoKpiDriver* Driver();

    // Decode settings: the rows of the settings list are the settings.
    void FillPcmFormatLists();
    // The setting of row index; throws EZoError for a row that does not convert.
    DecodeSetting ReadDecodeSetting(int index) const;
    SoundFormat ReadRequestedFormat(int index) const;

    // Layout, in creation order. The spin boxes are TZoSpinEdit, the bars TZoProgressBar.
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
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateLayout();
    QWidget* CreateSingleFileTab();
    QWidget* CreateMultipleFilesTab();
    QWidget* CreateSettingsTab();
    QWidget* CreateAboutTab();
    void CreateLogPanel();

    // IMainWindowView.
    void SetPagesEnabled(bool enabled) override;
    void ShowFirstPage() override;
    void ShowSplash() override;
    void SetSplashStatus(const std::string& text) override;
    void ReleaseSplash() override;
    void ProcessMessages() override;
    void ShowWindow() override;
    void CloseLater() override;

    TfrmSplash* FSplash = nullptr;
    // The playlist tab waits for each entry on Qt's event loop, so the window stays usable.
    std::unique_ptr<TQtMainThreadLoop> FLoop;
    // The adapters of the controls (QtControls.h), which go before the widgets.
    struct Adapters;
    std::unique_ptr<Adapters> FAdapters;
    std::unique_ptr<TMainWndCore> FCore;
};

// The window's start and end, and its controls handed to the shared window logic.
#include "ui/MainWnd.h"

#include "app/DecodeSettings.h"
#include "qtcore/QtMainThreadLoop.h"
#include "qtcore/QtText.h"
#include "ui/ProgressBar.h"
#include "ui/QtControls.h"
#include "ui/SpinEdit.h"
#include "ui/SplashWnd.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <utility>

// The adapters of one window's controls, made as the core's list asks for them.
struct TfrmMain::Adapters {
    IMainWindowView* Window;
    std::vector<std::shared_ptr<void>> Kept;

    template <class Adapter, class... Args> Adapter* Keep(Args&&... args)
    {
        auto adapter = std::make_shared<Adapter>(std::forward<Args>(args)...);
        Kept.push_back(adapter);
        return adapter.get();
    }

    IMainWindowView* View() { return Window; }
    ITextControl* Text(QLineEdit* edit) { return Keep<TQtEdit>(edit); }
    ITextControl* Text(QLabel* label) { return Keep<TQtLabel>(label); }
    ILinkControl* Link(QLabel* label) { return Keep<TQtLink>(label); }
    IButtonControl* Button(QPushButton* button) { return Keep<TQtButton>(button); }
    // The spin boxes and the bars are their own adapters.
    INumberControl* Number(QSpinBox* box) { return static_cast<TZoSpinEdit*>(box); }
    IGaugeControl* Gauge(TZoProgressBar* bar) { return bar; }
    IChoiceControl* Choice(QComboBox* list) { return Keep<TQtChoice>(list); }
    IGroupControl* Group(QGroupBox* group) { return Keep<TQtGroup>(group); }
    ILogListControl* LogList(QListWidget* list) { return Keep<TQtLogList>(list); }
    IMenuItemControl* MenuItem(QAction* action) { return Keep<TQtMenuItem>(action); }
    IClipboard* Clipboard() { return Keep<TQtClipboard>(); }
    ISettingsListControl* SettingsList(QTreeWidget* list) { return Keep<TQtSettingsList>(list); }
};

TfrmMain::TfrmMain(IUserDialogs& dialogs, const Places& places)
    : FLoop(std::make_unique<TQtMainThreadLoop>())
{
    CreateLayout();
    FAdapters = std::make_unique<Adapters>(Adapters{this, {}});
    FCore =
        std::make_unique<TMainWndCore>(NamedControls(*this, *FAdapters), dialogs, *FLoop, places);
    FCore->FormCreate();
}

TfrmMain::~TfrmMain()
{
    // While every control still exists: the settings are read from the list.
    FCore->FormDestroy();
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

// The main window's start, its log panel, the browse buttons and the About links, driven
// through its controls without a display.
#include "ui/MainWnd.h"
#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "tests/support/ProgramRun.h"
#include "tests/testplugin/TestPluginHost.h"
#include "tests/ui/UiTestSupport.h"
#include "tests/ui/WindowFixture.h"
#include "ui/ProgramEntry.h"
#include "ui/QtUserDialogs.h"
#include "ui/SplashFrame.h"
#include "ui/SplashWnd.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using testkpi::TestPlugin;
using uitest::AppEnvironment;
using uitest::LogLines;
using uitest::ScriptedDialogs;
namespace fs = std::filesystem;

using MainWndFixture = uitest::WindowFixture;

TEST_F(MainWndFixture, StartLogsEveryPluginAndTheCountThenShowsTheWindow)
{
    // One plug-in per level, so that the scan order is fixed: a folder before its sub-folders.
    AddPlugin("a.kpi", {{"version", "3"}});
    fs::create_directories(pluginFolder + "/sub");
    testsupport::WriteFileBytes(pluginFolder + "/sub/broken.kpi", "not a library");
    AddPlugin("sub/deeper/c&%d.kpi", {{"version", "2147483648"}});
    UsePluginFolder(pluginFolder);
    const std::string startFolder = platform::CurrentFolder();

    auto window = Open();
    EXPECT_EQ(LogLines(*window),
              (std::vector<std::string>{
                  "Pellan Decoder Version 1.0.0.79 デバッグ版",
                  "プラグインを " + pluginFolder + " からロードします",
                  "  a.kpi ver.3 をロードしました",
                  "  警告: " + pluginFolder + "/sub/broken.kpi のロードに失敗しました",
                  // Why, in the loader's own words.
                  "    理由: " + pluginFolder + "/sub/broken.kpi: file too short",
                  "  c&%d.kpi ver.-2147483648 をロードしました",
                  "2 個のプラグインをロードしました",
              }));
    EXPECT_EQ(RunLog->Lines(), LogLines(*window));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->pgDecodeMode->isEnabled());
    EXPECT_EQ(window->pgDecodeMode->currentIndex(), 0);
    EXPECT_EQ(window->windowTitle(), "Pellan Decoder");
    EXPECT_EQ(window->lblVersion->text(), "Version 1.0.0.79 (debug)");
    EXPECT_TRUE(dialogs.Errors.empty());
    // Relative paths typed later still mean what they meant when the program started.
    EXPECT_EQ(platform::CurrentFolder(), startFolder);
    // The splash window is gone once an event loop runs.
    QEventLoop loop;
    QTimer::singleShot(0, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(window->findChild<QWidget*>("frmSplash"), nullptr);
}

TEST_F(MainWndFixture, FreeingTheWindowWritesThePluginCacheAndUnloadsEveryPlugin)
{
    TestPlugin& plugin = AddPlugin("a.kpi");
    UsePluginFolder(pluginFolder);
    Open().reset();
    EXPECT_EQ(plugin.Counts().Init, 1);
    EXPECT_EQ(plugin.Counts().Deinit, 1);
    const std::string cache = testsupport::ReadFileBytes(env.Dir / "plugin.cache");
    EXPECT_EQ(cache.substr(0, 8), std::string("\x01\0\0\0\x01\0\0\0", 8));
}

TEST_F(MainWndFixture, UnwritableCacheIsLoggedAsAWarning)
{
    UsePluginFolder(pluginFolder);
    fs::create_directory(env.Dir / "plugin.cache"); // a folder where the file should go
    Open().reset();
    ASSERT_FALSE(RunLog->Lines().empty());
    EXPECT_EQ(RunLog->Lines().back(), "  警告: プラグインキャッシュ " + (env.Dir / "plugin.cache") +
                                          " を書き込めませんでした");
}

TEST_F(MainWndFixture, NoPluginsStillGiveAWorkingWindow)
{
    UsePluginFolder(pluginFolder);
    auto window = Open();
    EXPECT_EQ(LogLines(*window).back(), "0 個のプラグインをロードしました");
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWndFixture, CancelledFolderQuestionEndsWithoutLoadingOrShowing)
{
    AddPlugin("a.kpi");
    auto window = Open(); // nothing stored, no host player, nothing bundled: asked, cancelled
    EXPECT_EQ(dialogs.Messages.size(), 1u);
    EXPECT_TRUE(EndRequested());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->Driver(), nullptr);
    EXPECT_EQ(LogLines(*window),
              (std::vector<std::string>{"Pellan Decoder Version 1.0.0.79 デバッグ版"}));
    EXPECT_EQ(plugins[0]->Counts().Init, 0);
}

TEST_F(MainWndFixture, NewLineIsSelectedAndVisibleWhateverTheUserDid)
{
    UsePluginFolder(pluginFolder);
    auto window = Open();
    for (int i = 0; i < 40; ++i)
        window->AddLog({txt::Severity::Information, "line " + std::to_string(i)});
    window->lstLog->setCurrentRow(0);
    window->lstLog->scrollToTop();
    window->AddLog({txt::Severity::Information, "the newest"});
    QApplication::processEvents();
    const int last = window->lstLog->count() - 1;
    EXPECT_EQ(window->lstLog->currentRow(), last);
    const QRect itemRect = window->lstLog->visualItemRect(window->lstLog->item(last));
    EXPECT_TRUE(window->lstLog->viewport()->rect().contains(itemRect));
    EXPECT_EQ(RunLog->Lines().back(), "the newest");
}

TEST_F(MainWndFixture, CtrlCCopiesTheSelectedLineAndAnEmptySelectionClearsTheClipboard)
{
    UsePluginFolder(pluginFolder);
    auto window = Open();
    window->lstLog->setFocus();
    window->lstLog->setCurrentRow(1);
    QTest::keyClick(window->lstLog, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), LogLines(*window)[1]);

    window->lstLog->clear(); // a list without lines: only the clipboard is cleared
    QApplication::clipboard()->setText("old");
    QTest::keyClick(window->lstLog, Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(QApplication::clipboard()->text().isEmpty());
    EXPECT_TRUE(dialogs.Errors.empty());
}

TEST_F(MainWndFixture, CtrlSSavesTheWholeLogWithCrLfOnce)
{
    UsePluginFolder(pluginFolder);
    auto window = Open();
    window->AddLog({txt::Severity::Error, "エラー: something"});
    const std::string saved = env.Dir / "saved"; // no extension is added
    dialogs.FileAnswers = {saved};
    window->lstLog->setFocus();
    QTest::keyClick(window->lstLog, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(dialogs.Filters.size(), 1u); // one key press, one save
    EXPECT_EQ(dialogs.Filters[0], "ログファイル（*.log）|*.log|すべてのファイル|*.*");
    std::string expected;
    for (const auto& line : LogLines(*window))
        expected += line + "\r\n";
    EXPECT_EQ(testsupport::ReadFileBytes(saved), expected);

    // A file that cannot be written shows the error box; nothing else changes.
    dialogs.FileAnswers = {env.Dir / "missing/folder.log"};
    QTest::keyClick(window->lstLog, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(dialogs.Errors.size(), 1u);
    EXPECT_NE(dialogs.Errors[0].find("missing/folder.log"), std::string::npos);
}

TEST_F(MainWndFixture, ProgramWritesTheRunLogBesideItselfAtExit)
{
    UsePluginFolder(pluginFolder);
    const std::string logPath = platform::ChangeFileExt(platform::ExecutablePath(), ".log");
    std::filesystem::remove(logPath);
    std::vector<std::string> shown;
    int argc = 1;
    char name[] = "PellanDecode";
    char* argv[] = {name, nullptr};
    // The program makes its own application, registry and run log.
    env.Registry.reset();
    AppRegistry = nullptr;
    RunLog = nullptr;
    const int status = RunPellanDecode(argc, argv, [&](TfrmMain& window) {
        window.AddLog({txt::Severity::Information, "a line of the run"});
        shown = LogLines(window);
        QMetaObject::invokeMethod(
            &window, [&window] { window.close(); }, Qt::QueuedConnection);
    });
    EXPECT_EQ(status, 0);
    std::string expected;
    for (const auto& line : shown)
        expected += line + "\r\n";
    EXPECT_EQ(testsupport::ReadFileBytes(logPath), expected);
    std::filesystem::remove(logPath);
}

TEST_F(MainWndFixture, BrowseFillsTheSourceAndAWavBesideIt)
{
    UsePluginFolder(pluginFolder);
    auto window = Open();
    dialogs.FileAnswers = {"/music/a.b/song.mid", "/music/song", std::nullopt};
    window->btnBrowse->click();
    EXPECT_EQ(window->lbeSourceFile->text(), "/music/a.b/song.mid");
    EXPECT_EQ(window->lbePCMFile->text(), "/music/a.b/song.wav");
    window->btnBrowse->click();
    EXPECT_EQ(window->lbePCMFile->text(), "/music/song.wav");
    window->btnBrowse->click(); // cancelled: nothing changes
    EXPECT_EQ(window->lbeSourceFile->text(), "/music/song");
    EXPECT_EQ(dialogs.Filters[0], "すべてのオーディオファイル|*.*");

    dialogs.FileAnswers = {"/out/take"};
    window->btnBrowsePCM->click();
    EXPECT_EQ(window->lbePCMFile->text(), "/out/take"); // as chosen
    EXPECT_EQ(dialogs.Filters.back(), "Wave ファイル（*.wav）|*.wav");

    dialogs.FileAnswers = {"/lists/all.kbm"};
    window->btnBrowseForKbm->click();
    EXPECT_EQ(window->lbeKbmFile->text(), "/lists/all.kbm");
    EXPECT_EQ(dialogs.Filters.back(), "KBM 形式プレイリストファイル|*.kbm");
}

TEST_F(MainWndFixture, LinkLabelsHandTheirCaptionToTheDesktop)
{
    UsePluginFolder(pluginFolder);
    auto window = Open();
    QTest::mouseClick(window->lblQuenzWeb, Qt::LeftButton);
    QTest::mouseClick(window->lblEmail, Qt::LeftButton);
    ASSERT_EQ(dialogs.Addresses.size(), 2u);
    EXPECT_EQ(dialogs.Addresses[0], window->lblQuenzWeb->text().toStdString());
    EXPECT_EQ(dialogs.Addresses[1].rfind("mailto:", 0), 0u);
}

TEST(Dialogs, FiltersThatMeanEveryFileShowEveryFile)
{
    // "*.*" is every file on Windows; names without a dot must not vanish here.
    EXPECT_EQ(QtFilterText("すべてのオーディオファイル|*.*"), "すべてのオーディオファイル (*)");
    EXPECT_EQ(QtFilterText("ログファイル（*.log）|*.log|すべてのファイル|*.*"),
              "ログファイル（*.log） (*.log);;すべてのファイル (*)");
}

TEST(Splash, StatusShowsAmpersandsAndTheVersionLineAlwaysSaysDebug)
{
    TfrmSplash splash(nullptr);
    splash.SetStatus("  a&b.kpi ver.1 をロードしました");
    EXPECT_EQ(splash.fraSplash1->lblStatus->textFormat(), Qt::PlainText);
    EXPECT_EQ(splash.fraSplash1->lblStatus->text(), "  a&b.kpi ver.1 をロードしました");
    EXPECT_EQ(splash.fraSplash1->lblVersion->text(), "Version 1.0.0.79 (debug)");
    EXPECT_EQ(splash.size(), QSize(452, 340));
    EXPECT_FALSE(splash.fraSplash1->imgSplash->pixmap().isNull());
    EXPECT_EQ(splash.fraSplash1->imgSplash->pixmap().size(), QSize(448, 336));
}

TEST_F(MainWndFixture, AnnouncedAsAWindowWhileEveryFieldKeepsItsLabelsName)
{
    UsePluginFolder(pluginFolder);
    auto window = Open();
    QAccessibleInterface* self = QAccessible::queryAccessibleInterface(window.get());
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self->role(), QAccessible::Window);

    int labelled = 0;
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->buddy() == nullptr)
            continue;
        ++labelled;
        QAccessibleInterface* field = QAccessible::queryAccessibleInterface(label->buddy());
        ASSERT_NE(field, nullptr);
        const QString name = label->text().remove('&');
        // Labelled by its caption; a drop-down list reads its choice as its name and points
        // at the label, an edit takes the label's text as its name.
        QStringList labels;
        for (const auto& [other, relation] : field->relations(QAccessible::Label))
            labels << other->text(QAccessible::Name);
        EXPECT_TRUE(labels.contains(name)) << label->buddy()->objectName().toStdString();
        if (qobject_cast<QComboBox*>(label->buddy()) == nullptr) {
            EXPECT_EQ(field->text(QAccessible::Name), name);
        }
    }
    EXPECT_EQ(labelled, 11); // every edit, spin box and list of the three working tabs
}

TEST(Dialogs, FolderQuestionOffersNoNewFolder)
{
    TQtUserDialogs dialogs(nullptr);
    bool looked = false;
    // The dialog is modal: it is examined and cancelled from its own event loop.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr)
            return;
        poll.stop();
        looked = true;
        // Closed however the checks go, so that a failure does not leave the test waiting.
        struct RejectOnExit {
            QFileDialog* dialog;
            ~RejectOnExit() { dialog->reject(); }
        } rejectOnExit{dialog};
        auto* newFolder = dialog->findChild<QToolButton*>("newFolderButton");
        ASSERT_NE(newFolder, nullptr);
        EXPECT_FALSE(newFolder->isEnabled());
        // The list's context menu offers it no more than the button does. The menu runs its own
        // loop; it is read and closed from there.
        auto* list = dialog->findChild<QListView*>("listView");
        ASSERT_NE(list, nullptr);
        int offered = -1;
        QTimer menuPoll;
        QObject::connect(&menuPoll, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (menu == nullptr)
                return;
            menuPoll.stop();
            offered = 0;
            for (QAction* action : menu->actions())
                if (action->text().contains("Folder", Qt::CaseInsensitive) && action->isEnabled())
                    ++offered;
            menu->close();
        });
        menuPoll.start(10);
        QMetaObject::invokeMethod(list, "customContextMenuRequested", Q_ARG(QPoint, QPoint(1, 1)));
        EXPECT_EQ(offered, 0);
    });
    poll.start(10);
    EXPECT_EQ(dialogs.SelectFolder("."), std::nullopt);
    EXPECT_TRUE(looked);
}

namespace {

// Whether the process has its own handler for sig, read from the kernel's record.
bool CatchesSignal(pid_t pid, int sig)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("SigCgt:", 0) == 0)
            return ((std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1) != 0;
    return false;
}

// The window program copied into bin/ of the test's folder, so that what it writes beside
// itself stays there, and started with settings of its own and the given arguments. Sends
// SIGTERM once the program handles it and returns how the program ended (its exit status, or
// 128 and the signal that ended it).
int RunCopyUntilTerminated(const std::string& folder, const std::string& storedPluginFolder,
                           const std::vector<std::string>& arguments)
{
    const std::string bin = folder + "/bin";
    fs::create_directories(bin);
    fs::copy_file(PELLAN_WINDOW_PROGRAM, bin + "/PellanDecode");
    const std::string config = folder + "/home/.config/Quenz";
    fs::create_directories(config);
    if (!storedPluginFolder.empty())
        testsupport::WriteFileBytes(config + "/PellanDecoder.conf",
                                    "[SearchPath]\nPlugins=" + storedPluginFolder + "\n");

    testsupport::ProgramRun run(folder + "/home", folder);
    run.Environment["QT_QPA_PLATFORM"] = "offscreen";
    const pid_t pid = run.Start(bin + "/PellanDecode", arguments);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!CatchesSignal(pid, SIGTERM) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(pid, SIGTERM);
    return run.Finish(pid).Status;
}

} // namespace

TEST_F(MainWndFixture, ProgramTakesNoOptionsAndEndsInGoodOrderOnATerminateSignal)
{
    // Qt's own options: taken, the first would end the program at once.
    EXPECT_EQ(RunCopyUntilTerminated(env.Dir.Path(), pluginFolder,
                                     {"-platform", "no-such-platform", "-reverse"}),
              0);
    // Ended as by closing the window: the run log and the plug-in cache are written.
    EXPECT_EQ(testsupport::ReadFileBytes(env.Dir / "bin/PellanDecode.log"),
              "Pellan Decoder Version 1.0.0.79 デバッグ版\r\n"
              "プラグインを " +
                  pluginFolder +
                  " からロードします\r\n"
                  "0 個のプラグインをロードしました\r\n");
    EXPECT_EQ(testsupport::ReadFileBytes(env.Dir / "bin/plugin.cache"),
              std::string("\x01\0\0\0\0\0\0\0", 8));
}

TEST_F(MainWndFixture, TerminateSignalAnswersTheFirstStartQuestionAsCancelled)
{
    // Nothing stored and no plug-ins beside the copy: the program asks for the folder, and the
    // signal ends it there as a cancel would, with its run log.
    EXPECT_EQ(RunCopyUntilTerminated(env.Dir.Path(), "", {}), 0);
    EXPECT_EQ(testsupport::ReadFileBytes(env.Dir / "bin/PellanDecode.log"),
              "Pellan Decoder Version 1.0.0.79 デバッグ版\r\n");
}

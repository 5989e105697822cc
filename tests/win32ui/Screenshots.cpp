// Saves pictures of the Win32 window's splash window and of its main window on each page, as a
// person would see them on the screen, in Japanese and in English ("-en" after the name), into
// the folder given on the command line, beside the Qt window's pictures. Run under a display
// (Xvfb and Wine's own prefix for the test run).
#include "app/KbMD_Common.h"
#include "app/LogLines.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/win32ui/WindowFixture.h"
#include "tests/win32ui/WindowPicture.h"
#include "ui/win32/MainWnd.h"
#include "ui/win32/SplashWnd.h"
#include "ui/win32/Win32Controls.h"
#include "ui/win32/Win32UserDialogs.h"

#include <ole2.h>

#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// Lets the windows paint before they are taken.
void Settle()
{
    for (int i = 0; i < 30; ++i) {
        win32test::Pump();
        Sleep(10);
    }
}

bool Save(HWND window, const fs::path& path)
{
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Settle();
    const bool ok = SaveWindowPicture(window, path.wstring());
    std::printf("%s %s\n", ok ? "saved" : "FAILED", win32test::Utf8(path).c_str());
    return ok;
}

// The folder question's picture, taken by a timer from the dialog's own loop. A timer procedure
// has the system's calling convention, which no lambda has on 32-bit x86.
fs::path gQuestion;
bool gQuestionTaken = false;
void CALLBACK TakeFolderQuestion(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = FindWindowW(L"#32770", nullptr);
    if (dialog == nullptr)
        return;
    KillTimer(nullptr, timer);
    gQuestionTaken = Save(dialog, gQuestion);
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
}

// The fixture's set-up without a test around it: settings in the test run's registry, plug-in
// copies in a temporary folder.
struct Scene : win32test::WindowFixture {
    void TestBody() override {}
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: win32ui_screenshots <folder>\n");
        return 2;
    }
    OleInitialize(nullptr);
    const fs::path folder(argv[1]);
    fs::create_directories(folder);

    bool ok = true;
    for (const auto& [language, suffix] :
         {std::pair{txt::Language::Japanese, ""}, std::pair{txt::Language::English, "-en"}}) {
        txt::SetLanguage(language);
        const std::string end = std::string(suffix) + ".png";
        Scene scene;
        scene.AddPlugin("midi.kpi", {{"version", "12"}, {"extensions", ".mid,.rmi"}});
        scene.AddPlugin("game & chip.kpi", {{"version", "3"}, {"extensions", ".nsf"}});
        std::ofstream(win32test::PathOf(scene.PluginFolder + "\\broken.kpi")) << "not a library";
        scene.UsePluginFolder(scene.PluginFolder);

        auto* splash = new TfrmSplash(nullptr);
        splash->SetStatus(logtext::Line(txt::Id::PluginLoaded, {"game & chip.kpi", "3"}).Text);
        ok = Save(splash->Handle(), folder / ("win32-splash" + end)) && ok;
        splash->Release();
        Settle();

        auto window = scene.Open();
        window->Core().AddLog(logtext::Line(txt::Id::NoPluginForFile, {"C:\\music\\none.xyz"}));
        window->Core().AddLog(logtext::Line(txt::Id::DecodeFailed));
        // A row selected, so that the settings page shows its editors at work.
        win32test::WindowFixture::SelectRow(*window, 1);
        const char* names[] = {"single", "multiple", "settings", "about"};
        for (int page = 0; page < 4; ++page) {
            SendMessageW(window->pgDecodeMode, TCM_SETCURSEL, static_cast<WPARAM>(page), 0);
            NMHDR change{window->pgDecodeMode, TfrmMain::kTabs, TCN_SELCHANGE};
            SendMessageW(window->Handle(), WM_NOTIFY, TfrmMain::kTabs,
                         reinterpret_cast<LPARAM>(&change));
            ok =
                Save(window->Handle(), folder / (std::string("win32-main-") + names[page] + end)) &&
                ok;
        }
        if (language == txt::Language::English)
            continue;

        // The folder question of a first start: the shell's folder browser, without a button
        // for new folders. It is modal; the picture is taken from its own loop.
        gQuestion = folder / "win32-folder-question.png";
        SetTimer(nullptr, 0, 700, TakeFolderQuestion);
        TWin32UserDialogs questions(window->Handle());
        questions.SelectFolder("C:\\windows");
        ok = gQuestionTaken && ok;
    }
    OleUninitialize();
    return ok ? 0 : 1;
}

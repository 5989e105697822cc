#include "ui/ProgramEntry.h"

#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "app/ProgramFiles.h"
#include "app/Version.h"
#include "ui/Fonts.h"
#include "ui/MainWnd.h"
#include "ui/QtMainThreadLoop.h"
#include "ui/QtSettingsStore.h"
#include "ui/QtUserDialogs.h"
#include "ui/QuitSignals.h"

#include <QApplication>

#include <cstdio>
#include <memory>
#include <optional>

int RunPellanDecode(int& argc, char** argv, const std::function<void(TfrmMain&)>& afterStart)
{
    // First, so that a signal during the start is kept for the event loop.
    TQuitSignals quitSignals;
    FileVersionText();
    auto store = std::make_unique<TQtSettingsStore>();
    auto registry = std::make_unique<TAppRegistry>(*store);
    AppRegistry = registry.get();
    auto runLog = std::make_unique<TRunLog>();
    RunLog = runLog.get();

    // The program reads no command line, and neither may Qt: options such as -style or
    // -platform would change the program behind the user's back. Qt keeps references to these.
    static char defaultName[] = "PellanDecode";
    int qtArgc = 1;
    char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : defaultName, nullptr};

    int result = 0;
    size_t linesBeforeShutdown = 0;
    {
        // One application per process: a test that runs the program brings its own.
        std::optional<QApplication> ownApp;
        if (QCoreApplication::instance() == nullptr)
            ownApp.emplace(qtArgc, qtArgv);
        QGuiApplication::setApplicationDisplayName(QStringLiteral("Pellan Decoder"));
        RegisterFontSubstitutes();
        InstallMainThreadQueueHook();

        TfrmMain* shown = nullptr;
        bool quitRequested = false;
        TQtUserDialogs dialogs(nullptr);
        quitSignals.Watch([&] {
            quitRequested = true;
            // Nothing is asked any more: a question on screen, or one still to come during the
            // start, is answered as cancelled. The start runs to its end; then the program ends.
            dialogs.CancelAll();
            if (shown != nullptr && shown->isVisible())
                shown->close();
        });

        // The main window shows itself at the end of its creation step, once the plug-ins and
        // the settings are loaded; nothing else shows it.
        auto window = std::make_unique<TfrmMain>(dialogs);
        dialogs.SetOwner(window.get());
        shown = window.get();
        if (afterStart)
            afterStart(*window);
        if (!EndRequested() && !quitRequested)
            result = QApplication::exec();
        shown = nullptr;
        linesBeforeShutdown = RunLog->Lines().size();
        window.reset(); // frees the driver (plug-in cache), then stores the decode settings
    }

    registry->Flush();
    registry.reset();
    store.reset(); // written to permanent storage as it closes
    AppRegistry = nullptr;
    try {
        RunLog->SaveToFile(RunLogPath());
    } catch (const std::exception& e) {
        // Nobody is left to show it to but a terminal; what the shutdown logged would be lost
        // with the log, so it goes there too.
        std::fprintf(stderr, "%s\n", e.what());
        const auto& lines = RunLog->Lines();
        for (size_t i = linesBeforeShutdown; i < lines.size(); ++i)
            std::fprintf(stderr, "%s\n", lines[i].c_str());
    }
    RunLog = nullptr;
    return result;
}

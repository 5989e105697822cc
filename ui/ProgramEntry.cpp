#include "ui/ProgramEntry.h"

#include "ui/Fonts.h"
#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "ui/QtMainThreadLoop.h"
#include "ui/QtUserDialogs.h"
#include "app/Version.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "ui/MainWnd.h"
#include "ui/QtSettingsStore.h"

#include <QApplication>

#include <cstdio>
#include <memory>
#include <optional>

int RunPellanDecode(int& argc, char** argv, const std::function<void(TfrmMain&)>& afterStart)
{
    FileVersionText();
    auto store = std::make_unique<TQtSettingsStore>();
    auto registry = std::make_unique<TAppRegistry>(*store);
    AppRegistry = registry.get();
    auto runLog = std::make_unique<TRunLog>();
    RunLog = runLog.get();

    int result = 0;
    {
        // One application per process: a test that runs the program brings its own.
        std::optional<QApplication> ownApp;
        if (QCoreApplication::instance() == nullptr)
            ownApp.emplace(argc, argv);
        QGuiApplication::setApplicationDisplayName(QStringLiteral("Pellan Decoder"));
        RegisterFontSubstitutes();
        InstallMainThreadQueueHook();
        // The main window shows itself at the end of its creation step, once the plug-ins and
        // the settings are loaded; nothing else shows it.
        TQtUserDialogs dialogs(nullptr);
        auto window = std::make_unique<TfrmMain>(dialogs);
        dialogs.SetOwner(window.get());
        if (afterStart)
            afterStart(*window);
        if (!EndRequested())
            result = QApplication::exec();
        window.reset(); // frees the driver (plug-in cache), then stores the decode settings
    }

    registry->Flush();
    registry.reset();
    store.reset(); // written to permanent storage as it closes
    AppRegistry = nullptr;
    const std::string logPath = platform::ChangeFileExt(platform::ExecutablePath(), ".log");
    try {
        RunLog->SaveToFile(logPath);
    } catch (const std::exception& e) {
        // Nobody is left to show it to.
        std::fprintf(stderr, "%s\n", e.what());
    }
    RunLog = nullptr;
    return result;
}

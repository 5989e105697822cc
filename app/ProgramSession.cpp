#include "app/ProgramSession.h"

#include "app/KbMD_Common.h"
#include "app/Version.h"

TProgramSession::TProgramSession(std::unique_ptr<ISettingsStore> store) : FStore(std::move(store))
{
    FileVersionText();
    FRegistry = std::make_unique<TAppRegistry>(*FStore);
    AppRegistry = FRegistry.get();
    FRunLog = std::make_unique<TRunLog>();
    RunLog = FRunLog.get();
}

TProgramSession::~TProgramSession()
{
    if (!FEnded) {
        AppRegistry = nullptr;
        RunLog = nullptr;
    }
}

void TProgramSession::ShutdownBegins()
{
    FLinesBeforeShutdown = FRunLog->Lines().size();
}

std::vector<std::string> TProgramSession::End(const std::string& runLogPath)
{
    FEnded = true;
    FRegistry->Flush();
    FRegistry.reset();
    FStore.reset(); // written to permanent storage as it closes
    AppRegistry = nullptr;
    std::vector<std::string> unsaved;
    try {
        FRunLog->SaveToFile(runLogPath);
    } catch (const std::exception& e) {
        unsaved.push_back(e.what());
        const auto& lines = FRunLog->Lines();
        unsaved.insert(unsaved.end(), lines.begin() + static_cast<ptrdiff_t>(FLinesBeforeShutdown),
                       lines.end());
    }
    RunLog = nullptr;
    FRunLog.reset();
    return unsaved;
}

#include "tests/ui/UiTestSupport.h"

#include "app/KbMD_Common.h"
#include "app/KbMPath.h"
#include "platform/MainThreadQueue.h"
#include "qtcore/QtSettingsStore.h"
#include "qtcore/QtText.h"
#include "ui/MainWnd.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QSettings>
#include <QThread>

#include <cstdlib>

namespace uitest {

AppEnvironment::AppEnvironment()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(Dir / "settings"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString(Dir / "settings"));
    // The host player may also be found in a Wine prefix: a test reads an empty one of its own
    // rather than the user's ~/.wine, unless it runs in the prefix the Wine tests boot.
    if (std::getenv("WINEPREFIX") == nullptr)
        ::setenv("WINEPREFIX", (Dir / "wine-prefix").c_str(), 1);
    ClearEndRequest();
    Store = std::make_unique<TQtSettingsStore>();
    Registry = std::make_unique<TAppRegistry>(*Store);
    AppRegistry = Registry.get();
    Log = std::make_unique<TRunLog>();
    RunLog = Log.get();
}

AppEnvironment::~AppEnvironment()
{
    AppRegistry = nullptr;
    RunLog = nullptr;
    ClearEndRequest();
}

void AppEnvironment::Restart()
{
    Registry.reset();
    Store->Flush();
    Store = std::make_unique<TQtSettingsStore>();
    Registry = std::make_unique<TAppRegistry>(*Store);
    AppRegistry = Registry.get();
    Log = std::make_unique<TRunLog>();
    RunLog = Log.get();
    ClearEndRequest();
}

std::vector<std::string> LogLines(TfrmMain& window)
{
    std::vector<std::string> lines;
    for (int i = 0; i < window.lstLog->count(); ++i)
        lines.push_back(FromQString(window.lstLog->item(i)->text()));
    return lines;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        platform::MainThreadQueue::Serve();
        QThread::msleep(1);
    }
    return true;
}

} // namespace uitest

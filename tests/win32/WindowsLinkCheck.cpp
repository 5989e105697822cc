// Links the core for Windows (32 and 64-bit) with a MinGW cross compiler, so that the Windows
// branches of the platform layer keep compiling and every declared function has its body.
#include "decoder/kpiFileDecoderThread.h"
#include "kpi/kpiDriver.h"
#include "platform/CodePages.h"
#include "platform/FileSystem.h"
#include "platform/UserFolders.h"
#include "platform/WindowsPaths.h"
#include "playlist/kpiPlayListReader.h"
#include <cstdio>
int main()
{
    TZoKpiDriver driver;
    driver.LoadFolder("C:\\plugins");
    platform::RemoveFile("x");
    std::printf("%d\n", platform::FileDosDateTime("x"));
    // Playlist names from Japanese Windows, and the user's folders for an installed copy.
    std::printf("%s %d\n", platform::SystemTextOf("\x83\x5c").c_str(),
                platform::SameNameIgnoringCase("a", "A"));
    std::printf("%s\n", platform::ResolveWindowsPath("C:\\x.mid").Path.c_str());
    std::printf("%s %d\n", platform::UserCacheFolder().c_str(), platform::IsWritableFolder("."));
    try {
        TZoKbmPlayListReader r("x.kbm");
    } catch (...) {
    }
    return 0;
}

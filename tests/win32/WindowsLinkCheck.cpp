// Links the core for Windows (32 and 64-bit) with a MinGW cross compiler, so that the Windows
// branches of the platform layer keep compiling and every declared function has its body.
#include "decoder/kpiFileDecoderThread.h"
#include "kpi/kpiDriver.h"
#include "platform/FileSystem.h"
#include "playlist/kpiPlayListReader.h"
#include <cstdio>
int main()
{
    TZoKpiDriver driver;
    driver.LoadFolder("C:\\plugins");
    platform::RemoveFile("x");
    std::printf("%d\n", platform::FileDosDateTime("x"));
    try {
        TZoKbmPlayListReader r("x.kbm");
    } catch (...) {
    }
    return 0;
}

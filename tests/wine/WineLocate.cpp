// Prints where the program finds Wine, as shell assignments, so that the prefix script boots
// the prefix with the same Wine that the plug-in hosts will run under.
#include "kpi/KpiWine.h"

#include <cstdio>
#include <cstdlib>

int main()
{
    const char* path = std::getenv("PATH");
    const kpihost::WineLoaders wine = kpihost::FindWine(path != nullptr ? path : "");
    std::printf("wine32='%s'\nwine64='%s'\n", wine.Wine32.c_str(), wine.Wine64.c_str());
    return 0;
}

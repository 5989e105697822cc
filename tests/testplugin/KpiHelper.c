/* A helper library that a test plug-in needs and that is shipped only beside the plug-in. */
#include <stdint.h>

#ifdef _WIN32
#define KPIHELPER_EXPORT __declspec(dllexport)
#else
#define KPIHELPER_EXPORT __attribute__((visibility("default")))
#endif

KPIHELPER_EXPORT uint32_t kpihelper_Version(void)
{
    return 77;
}

/* A helper library that a test plug-in needs and that is shipped only beside the plug-in. */
#include <stdint.h>

__attribute__((visibility("default"))) uint32_t kpihelper_Version(void)
{
    return 77;
}

/* A plug-in that can only be loaded when its helper library is found beside it. */
#include "kpi/KpiInterface.h"

#include <stddef.h>

uint32_t kpihelper_Version(void);

static const char* const kExtensions[] = {".hlp", NULL};

static KPI_HANDLE KPI_CALL Open(const char* fileName, SoundFormat* format)
{
    (void)fileName;
    (void)format;
    return 0;
}
static void KPI_CALL Close(KPI_HANDLE h)
{
    (void)h;
}
static uint32_t KPI_CALL Render(KPI_HANDLE h, uint8_t* buffer, uint32_t size)
{
    (void)h;
    (void)buffer;
    (void)size;
    return 0;
}
static uint32_t KPI_CALL SetPosition(KPI_HANDLE h, uint32_t ms)
{
    (void)h;
    return ms;
}

static KpiModule gModule;

KPI_EXPORT const KpiModule* KPI_CALL kmp_GetTestModule(void)
{
    gModule.InterfaceVersion = KPI_INTERFACE_VERSION;
    gModule.PluginVersion = kpihelper_Version(); /* the call that needs the helper */
    gModule.SupportedExtensions = kExtensions;
    gModule.Reentrant = 1;
    gModule.Open = Open;
    gModule.Close = Close;
    gModule.Render = Render;
    gModule.SetPosition = SetPosition;
    return &gModule;
}

// The window program for Windows: its settings live in the registry.
#include "app/RegistrySettingsStore.h"
#include "ui/win32/ProgramEntry.h"

#include <windows.h>

#include <memory>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return RunPellanDecode(std::make_unique<TRegistrySettingsStore>());
}

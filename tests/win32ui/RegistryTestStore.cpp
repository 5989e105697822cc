// The window's tests use the store the program itself uses: the registry, here the one of the
// test run's own Wine prefix.
#include "app/RegistrySettingsStore.h"
#include "tests/win32ui/WindowFixture.h"

std::unique_ptr<ISettingsStore> MakeTestSettingsStore()
{
    return std::make_unique<TRegistrySettingsStore>();
}

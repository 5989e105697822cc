// Links the window program for Windows as the program itself is linked, over a settings store
// that holds nothing: the check is that every part the window needs is there and that the
// result needs nothing but the system. It is never run.
#include "app/SettingsStore.h"
#include "ui/win32/ProgramEntry.h"

#include <windows.h>

#include <memory>

namespace {

class NoStore : public ISettingsStore {
public:
    bool KeyExists(const std::string&) const override { return false; }
    std::vector<std::string> SubKeys(const std::string&) const override { return {}; }
    std::optional<std::string> ReadString(const std::string&, const std::string&) const override
    {
        return std::nullopt;
    }
    std::optional<uint32_t> ReadInteger(const std::string&, const std::string&) const override
    {
        return std::nullopt;
    }
    void WriteString(const std::string&, const std::string&, const std::string&) override {}
    void WriteInteger(const std::string&, const std::string&, uint32_t) override {}
    void DeleteKey(const std::string&) override {}
    void Flush() override {}
    std::optional<std::string> HostPlayerExecutable() const override { return std::nullopt; }
};

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return RunPellanDecode(std::make_unique<NoStore>());
}

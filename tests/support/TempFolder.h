// A fresh folder for one test, removed with everything in it afterwards. It also puts the
// process's current folder back, since some code under test changes it.
#pragma once

#include <string>

namespace testsupport {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return FPath; }
    // Path of name inside the folder.
    std::string operator/(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
    std::string FStartFolder;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

} // namespace testsupport

// What the window tests share: a Qt application without a display, a settings store in a
// temporary folder, dialogs that answer from a script, and a way to wait for the window.
#pragma once

#include "app/UserDialogs.h"
#include "tests/support/TempFolder.h"

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TAppRegistry;
class TQtSettingsStore;
class TRunLog;
class TfrmMain;

namespace uitest {

// Answers every question from queues the test fills; records what was asked.
class ScriptedDialogs : public IUserDialogs {
public:
    struct Message {
        std::string caption, text;
    };
    std::vector<Message> Messages;
    std::vector<std::string> Errors;
    std::vector<std::string> StartFolders;
    std::vector<std::string> Filters;
    std::vector<std::string> Addresses;
    std::deque<std::optional<std::string>> FolderAnswers; // empty queue: cancel
    std::deque<std::optional<std::string>> FileAnswers;   // open and save alike

    void ShowMessage(const std::string& caption, const std::string& text) override
    {
        Messages.push_back({caption, text});
    }
    void ShowError(const std::string& text) override { Errors.push_back(text); }
    std::optional<std::string> SelectFolder(const std::string& startFolder) override
    {
        StartFolders.push_back(startFolder);
        return Next(FolderAnswers);
    }
    std::optional<std::string> OpenFile(const std::string& filter) override
    {
        Filters.push_back(filter);
        return Next(FileAnswers);
    }
    std::optional<std::string> SaveFile(const std::string& filter) override
    {
        Filters.push_back(filter);
        return Next(FileAnswers);
    }
    void OpenAddress(const std::string& address) override { Addresses.push_back(address); }

private:
    static std::optional<std::string> Next(std::deque<std::optional<std::string>>& answers)
    {
        if (answers.empty())
            return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

// A fresh settings store and run log for one test; the settings live in a temporary folder
// and the end request of an earlier test is forgotten.
class AppEnvironment {
public:
    AppEnvironment();
    ~AppEnvironment();
    testsupport::TempFolder Dir;
    std::unique_ptr<TQtSettingsStore> Store;
    std::unique_ptr<TAppRegistry> Registry;
    std::unique_ptr<TRunLog> Log;
    // Replaces the registry with a new one reading the same store, as a restart would.
    void Restart();
};

// The log list's lines, as the run log holds them.
std::vector<std::string> LogLines(TfrmMain& window);

// Processes events until done() holds or the time runs out; false on time-out.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000);

} // namespace uitest

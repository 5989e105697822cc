// Dialogs that answer from a script, for tests of either window: every question is answered
// from queues the test fills, and what was asked is recorded. Nothing waits for a person.
#pragma once

#include "app/UserDialogs.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

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

} // namespace testsupport

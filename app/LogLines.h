// A line of the log as every flow hands it on: its text and its severity, which the log list
// shows as its icon and the command line's --quiet filters by. Also the lines that the window
// and the command line both log at their start.
#pragma once

#include "texts/Texts.h"

#include <cstddef>
#include <exception>
#include <functional>
#include <optional>
#include <string>

class TZoKpi;

struct LogLine {
    txt::Severity Level = txt::Severity::Information;
    std::string Text;
    // The text alone, for whoever keeps or shows only that.
    operator const std::string&() const { return Text; }
};

using LogFunction = std::function<void(const LogLine& line)>;

namespace logtext {
// A text of the table as a line, filled in, with the table's severity.
LogLine Line(txt::Id id, std::initializer_list<std::string_view> arguments = {});
// The message of a failure as a line: an error, unless the failure says otherwise.
LogLine FailureLine(const std::exception& failure);
// "エラー: " and why a decode's run failed.
LogLine RunFailedLine(const std::string& why);

LogLine VersionLine();
// Said once, after the version line, when PELLAN_LANG named no language the programs speak.
std::optional<LogLine> IgnoredLanguageLine();
LogLine LoadingFromLine(const std::string& folder);
LogLine PluginLoadedLine(const TZoKpi& plugin);
LogLine PluginLoadFailedLine(const std::string& path);
LogLine PluginLoadFailedReasonLine(const std::string& reason);
// Why a failure happened, on a line of its own under the failure's line, one level deeper.
LogLine ReasonLine(const std::string& reason, const std::string& under);
LogLine PluginCountLine(size_t count);
// PELLAN_PLUGIN_TIME_LIMIT held no usable number of seconds: the default is used.
LogLine TimeLimitIgnoredLine(const std::string& value);
} // namespace logtext

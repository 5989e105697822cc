#include "app/LogLines.h"

#include "app/Version.h"
#include "kpi/KPI.h"
#include "kpi/KpiHostPool.h"
#include "kpi/kpiDriver.h"
#include "platform/Errors.h"
#include "platform/Paths.h"
#include <cstdio>

namespace logtext {

LogLine Line(txt::Id id, std::initializer_list<std::string_view> arguments)
{
    return {txt::SeverityOf(id), txt::Format(id, arguments)};
}

LogLine FailureLine(const std::exception& failure)
{
    if (const auto* error = dynamic_cast<const EZoError*>(&failure))
        return {error->Level(), error->what()};
    return {txt::Severity::Error, failure.what()};
}

LogLine RunFailedLine(const std::string& why)
{
    return Line(txt::Id::RunFailed, {why});
}

LogLine VersionLine()
{
    return Line(txt::Id::VersionLine, {FileVersionText()});
}

std::optional<LogLine> IgnoredLanguageLine()
{
    const std::string ignored = txt::IgnoredLanguageOverride();
    if (ignored.empty())
        return std::nullopt;
    return Line(txt::Id::LanguageOverrideIgnored, {ignored});
}

LogLine LoadingFromLine(const std::string& folder)
{
    return Line(txt::Id::LoadingFrom, {folder});
}

LogLine PluginLoadedLine(const TZoKpi& plugin)
{
    // The version is shown as its 32 bits read as a signed number.
    return Line(txt::Id::PluginLoaded,
                {platform::ExtractFileName(plugin.FileName()),
                 std::to_string(static_cast<int32_t>(plugin.PluginVersion()))});
}

LogLine PluginLoadFailedLine(const std::string& path)
{
    return Line(txt::Id::PluginLoadFailed, {path});
}

LogLine PluginLoadFailedReasonLine(const std::string& reason)
{
    return ReasonLine(reason, PluginLoadFailedLine(std::string()).Text);
}

LogLine ReasonLine(const std::string& reason, const std::string& under)
{
    // One level deeper than the line it explains.
    const size_t indent = under.find_first_not_of(' ');
    const LogLine line = Line(txt::Id::Reason, {reason});
    return {line.Level,
            std::string(indent == std::string::npos ? 0 : indent, ' ') + "  " + line.Text};
}

LogLine TimeLimitIgnoredLine(const std::string& value)
{
    const auto seconds = [](double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", value);
        return std::string(text);
    };
    return Line(txt::Id::TimeLimitIgnored,
                {value, seconds(TZoKpiDriver::kLeastTimeLimit),
                 seconds(TZoKpiDriver::kLargestTimeLimit),
                 std::to_string(TZoKpiHostSettings{}.CallTimeLimit.count() / 1000)});
}

LogLine PluginCountLine(size_t count)
{
    return Line(txt::Id::PluginCount, {std::to_string(count)});
}

} // namespace logtext

#include "app/LogLines.h"

#include "app/Version.h"
#include "kpi/KPI.h"
#include "platform/Errors.h"
#include "platform/Paths.h"

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
    return Line(txt::Id::PluginLoadFailedReason, {reason});
}

LogLine PluginCountLine(size_t count)
{
    return Line(txt::Id::PluginCount, {std::to_string(count)});
}

} // namespace logtext

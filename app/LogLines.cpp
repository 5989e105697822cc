#include "app/LogLines.h"

#include "app/Version.h"
#include "kpi/KPI.h"
#include "kpi/kpiDriver.h"

#include "platform/Paths.h"
#include <cstdio>

namespace logtext {

std::string VersionLine()
{
    return "Pellan Decoder Version " + FileVersionText() + " デバッグ版";
}

std::string LoadingFromLine(const std::string& folder)
{
    return "プラグインを " + folder + " からロードします";
}

std::string PluginLoadedLine(const TZoKpi& plugin)
{
    // The version is shown as its 32 bits read as a signed number.
    return "  " + platform::ExtractFileName(plugin.FileName()) + " ver." +
           std::to_string(static_cast<int32_t>(plugin.PluginVersion())) + " をロードしました";
}

std::string PluginLoadFailedLine(const std::string& path)
{
    return "  警告: " + path + " のロードに失敗しました";
}

std::string PluginLoadFailedReasonLine(const std::string& reason)
{
    return ReasonLine(reason);
}

std::string ReasonLine(const std::string& reason)
{
    return "    理由: " + reason;
}

std::string TimeLimitIgnoredLine(const std::string& value)
{
    char range[64];
    std::snprintf(range, sizeof range, "%g から %g まで", TZoKpiDriver::kLeastTimeLimit,
                  TZoKpiDriver::kLargestTimeLimit);
    return "  警告: 環境変数 PELLAN_PLUGIN_TIME_LIMIT の値 \"" + value + "\" は使えません (" +
           range + "の秒数)。既定の " +
           std::to_string(TZoKpiHostSettings{}.CallTimeLimit.count() / 1000) + " 秒を使います";
}

std::string PluginCountLine(size_t count)
{
    return std::to_string(count) + " 個のプラグインをロードしました";
}

} // namespace logtext

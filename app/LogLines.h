// The start-up lines that the window and the command line both log.
#pragma once

#include <cstddef>
#include <string>

class TZoKpi;

namespace logtext {
std::string VersionLine();                              // "Pellan Decoder Version ..."
std::string LoadingFromLine(const std::string& folder); // "プラグインを ... からロードします"
std::string PluginLoadedLine(const TZoKpi& plugin); // "  name ver.N をロードしました"
std::string PluginLoadFailedLine(const std::string& path); // "  警告: ... のロードに失敗しました"
std::string PluginLoadFailedReasonLine(const std::string& reason); // "    理由: ..."
// Why a failure happened, on its own line under the failure's line: "    理由: ...".
std::string ReasonLine(const std::string& reason);
std::string PluginCountLine(size_t count); // "N 個のプラグインをロードしました"
// "  警告: 環境変数 PELLAN_PLUGIN_TIME_LIMIT の値 ... は使えません ..."
std::string TimeLimitIgnoredLine(const std::string& value);
} // namespace logtext

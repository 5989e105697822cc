// The texts the windows show: captions, labels, menu items, dialog filters, the About tab's
// credits and links. Both window programs take them from here, so that they read alike.
#pragma once

#include <string>

namespace wndtext {

inline constexpr const char* kApplicationTitle = "Pellan Decoder";

// The pages of pgDecodeMode, in order.
inline constexpr const char* kSingleFilePage = "単一ファイル";
inline constexpr const char* kMultipleFilesPage = "複数ファイル";
inline constexpr const char* kSettingsPage = "デコード設定";
inline constexpr const char* kAboutPage = "バージョン情報";

// A decode tab's start button is also its stop button; the caption tells which.
inline constexpr const char* kStartCaption = "開始(&S)";
inline constexpr const char* kStopCaption = "中止(&A)";
// A progress label before the first decode.
inline constexpr const char* kNoProgress = "--:--.--- / --:--.---";

// Single file.
inline constexpr const char* kSourceFileLabel = "デコード対象ファイル(&S):";
inline constexpr const char* kBrowseSourceCaption = "参照(&B)...";
inline constexpr const char* kPcmFileLabel = "デコード先 &PCM ファイル:";
inline constexpr const char* kBrowsePcmCaption = "参照(&R)...";
inline constexpr const char* kSongNumberLabel = "ファイル中曲番号(&N):";
inline constexpr const char* kPcmFormatLabel = "PCM ファイルのフォーマット(&F):";

// Playlist.
inline constexpr const char* kKbmFileLabel = "&KBM プレイリストファイル:";
inline constexpr const char* kBrowseKbmCaption = "参照(&B)...";

// Decode settings.
inline constexpr const char* kSettingColumns[6] = {
    "名前",         "サンプリング周波数(Hz)", "量子化ビット数",
    "チャンネル数", "デフォルト曲長(sec)",    "フェードアウト時間(ms)"};
inline constexpr const char* kAddSettingCaption = "追加(&A)";
inline constexpr const char* kRenameSettingCaption = "名前変更(&R)";
inline constexpr const char* kDeleteSettingCaption = "削除(&D)";
inline constexpr const char* kRenameMessageCaption = "名前変更";
inline constexpr const char* kSamplingFrequencyLabel = "サンプリング周波数(&F):";
inline constexpr const char* kSampleFormatLabel = "量子化ビット数(&B):";
inline constexpr const char* kChannelsLabel = "チャンネル数(&C):";
inline constexpr const char* kDefaultLengthLabel = "デフォルト曲長(&L):";
inline constexpr const char* kDefaultLengthUnit = "秒";
inline constexpr const char* kFadeoutLengthLabel = "フェードアウト時間(&O):";
inline constexpr const char* kFadeoutLengthUnit = "ms";
// The settings group's caption names the setting it shows; before any, the first built-in one.
inline std::string SettingGroupCaption(const std::string& name)
{
    return name + " の設定";
}
inline constexpr const char* kInitialSettingGroupCaption = "CD の設定";

// About.
inline constexpr const char* kAboutTitle = "PellanDecoder";
inline constexpr const char* kCredits[4] = {
    "Pellan Decoder: KPI プラグインで音楽ファイルを WAV ファイルに変換します。",
    "Copyright (c) The PellanDecoder developers",
    "MIT ライセンスのフリーソフトウェアです。無保証です。",
    "KPI プラグインはそれぞれの作者の著作物です。",
};
inline constexpr const char* kWebAddress = "https://quenz.example.org/pellandecoder/";
inline constexpr const char* kMailAddress = "mailto:pellandecoder@quenz.example.org";
// "Version 1.0.0.79 (debug)", on the About tab and on the splash window; the suffix is always
// there, also when the version is unknown.
inline std::string VersionLabel(const std::string& version)
{
    return "Version " + version + " (debug)";
}

// The log list's popup menu.
inline constexpr const char* kCopyLogEntryCaption = "コピー(&C)";
inline constexpr const char* kSaveLogsCaption = "ファイルに保存(&S)...";

// Dialog filters: "caption|pattern|caption|pattern".
inline constexpr const char* kAudioFileFilter = "すべてのオーディオファイル|*.*";
inline constexpr const char* kWaveFileFilter = "Wave ファイル（*.wav）|*.wav";
inline constexpr const char* kPlaylistFilter = "KBM 形式プレイリストファイル|*.kbm";
inline constexpr const char* kLogFileFilter = "ログファイル（*.log）|*.log|すべてのファイル|*.*";

// The splash window.
inline constexpr const char* kSplashCredit = "(c) The PellanDecoder developers";
inline std::string SplashCountStatus(size_t plugins)
{
    return std::to_string(plugins) + " 個のプラグインをロード";
}

} // namespace wndtext

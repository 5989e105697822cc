// Decode settings as the application layer keeps them: the stored layout, the rows read back,
// and the names a setting may have.
#include "app/DecodeSettings.h"
#include "app/SettingsLayout.h"
#include "platform/Errors.h"
#include "tests/app/MemorySettingsStore.h"

#include <gtest/gtest.h>

TEST(DecodeSettingsStore, RowsAreStoredAsFiveIntegersPerNamedKeyAndReadBack)
{
    TMemorySettingsStore store;
    EXPECT_FALSE(LoadDecodeSettingRows(store)); // nothing stored: the built-in rows stay

    std::vector<DecodeSettingRow> rows = BuiltInDecodeSettings();
    rows.push_back({"odd", {"8000", "8", "1", "10", "0"}});
    SaveDecodeSettingRows(store, rows);
    EXPECT_EQ(store.Flushes, 1);
    EXPECT_EQ(store.ReadInteger("DecodeSettings\\CD", "SamplingFrequency"), 44100u);
    // "default" is no number and is stored as 0.
    EXPECT_EQ(store.ReadInteger("DecodeSettings\\プラグインのデフォルト", "BitsPerSample"), 0u);
    EXPECT_EQ(store.ReadInteger("DecodeSettings\\odd", "BitsPerSample"), 8u);

    const auto loaded = LoadDecodeSettingRows(store);
    ASSERT_TRUE(loaded);
    ASSERT_EQ(loaded->size(), 3u);
    EXPECT_EQ((*loaded)[0].Values, rows[0].Values);
    EXPECT_EQ((*loaded)[1].Values, (std::array<std::string, 5>{"8000", "8", "1", "10", "0"}));
    EXPECT_EQ((*loaded)[2].Values, rows[1].Values); // 0 bits come back as "default"

    // A key that lacks values reads them as 0; a value written as another type likewise. A
    // number outside its editor's range is reported and replaced by the built-in value: a
    // default length of 0 would leave a file of nothing but the fade.
    store.DeleteKey("DecodeSettings");
    store.WriteInteger("DecodeSettings\\partial", "SamplingFrequency", 0xFFFFFFFFu);
    store.WriteString("DecodeSettings\\partial", "Channels", "two");
    std::vector<std::string> warnings;
    const auto partial = LoadDecodeSettingRows(store, &warnings);
    ASSERT_TRUE(partial);
    EXPECT_EQ((*partial)[0].Values,
              (std::array<std::string, 5>{"44100", "default", "0", "120", "0"}));
    EXPECT_EQ(warnings,
              (std::vector<std::string>{
                  "警告: デコード設定 partial のサンプリング周波数(Hz) 4294967295 は範囲外です "
                  "(0～192000)。既定値 44100 を使います",
                  "警告: デコード設定 partial のデフォルト曲長(sec) 0 は範囲外です "
                  "(10～3600)。既定値 120 を使います"}));

    // No rows: the key goes, and the next start shows the built-in rows.
    SaveDecodeSettingRows(store, {});
    EXPECT_FALSE(store.KeyExists("DecodeSettings"));
    EXPECT_FALSE(LoadDecodeSettingRows(store));
}

TEST(DecodeSettingNames, EachNameIsOneKeyOfItsOwn)
{
    const std::vector<std::string> others = {"CD", "Hi-Res"};
    EXPECT_EQ(RefuseSettingName("new", others), "");
    EXPECT_EQ(RefuseSettingName("", others), "設定の名前を入力してください。");
    EXPECT_EQ(RefuseSettingName("a\\b", others), "設定の名前に \\ と / は使えません。");
    EXPECT_EQ(RefuseSettingName("a/b", others), "設定の名前に \\ と / は使えません。");
    EXPECT_EQ(RefuseSettingName("cd", others), "設定 cd は既にあります。");
    EXPECT_EQ(RefuseSettingName("HI-RES", others), "設定 HI-RES は既にあります。");
    EXPECT_FALSE(SameSettingName("CD", "CD2"));
}

TEST(DecodeSettingRows, BuiltInAndNewRowsAndWhatTheyAskOfThePlugin)
{
    const auto rows = BuiltInDecodeSettings();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Name, "CD");
    const SoundFormat cd = ReadRequestedFormat(rows[0]);
    EXPECT_EQ(cd.SampleRate, 44100u);
    EXPECT_EQ(cd.BitsPerSample, 16u);
    EXPECT_EQ(cd.Channels, 2u);
    const SoundFormat own = ReadRequestedFormat(rows[1]);
    EXPECT_EQ(own.SampleRate + own.BitsPerSample + own.Channels, 0u);
    const DecodeSetting d = ReadDecodeSetting(NewDecodeSettingRow("x"));
    EXPECT_EQ(d.DefaultLength, 120u);
    EXPECT_EQ(d.FadeoutLength, 5000u);
    EXPECT_THROW(ReadDecodeSetting({"bad", {"-1", "16", "2", "120", "5000"}}), EZoError);
}

// The host protocol's messages: their bytes, and every rule a reply must keep before the
// program uses it.
#include "kpi/KpiHostProtocol.h"

#include <gtest/gtest.h>

using namespace kpihost;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<uint32_t> words, std::string tail = "")
{
    std::vector<uint8_t> b;
    for (uint32_t w : words)
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<uint8_t>(w >> (8 * i)));
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
}

std::vector<uint8_t> Payload(MessageWriter& out)
{
    const std::vector<uint8_t>& frame = out.Frame();
    return std::vector<uint8_t>(frame.begin() + kHeaderSize, frame.end());
}

// The message of the protocol error a reply raises, or "" when it is accepted.
template <typename F> std::string Rejection(F decode)
{
    try {
        decode();
        return "";
    } catch (const EKpiHostProtocol& e) {
        return e.what();
    }
}

} // namespace

TEST(HostProtocol, RequestsHaveTheirDocumentedBytes)
{
    OpenRequest open;
    open.Path = "a.mid";
    open.Style = PathStyle::Unix;
    open.CurrentFolder = "/m";
    open.Format.SampleRate = 44100;
    open.Format.Channels = 2;
    open.Format.BitsPerSample = 16;
    std::vector<uint8_t> expected = Bytes({4 + 5 + 1 + 4 + 2 + 32, kOpen, 5}, "a.mid\x01");
    const std::vector<uint8_t> folder = Bytes({2}, "/m");
    expected.insert(expected.end(), folder.begin(), folder.end());
    const std::vector<uint8_t> format = Bytes({44100, 2, 16, 0, 0, 0, 0, 0});
    expected.insert(expected.end(), format.begin(), format.end());
    EXPECT_EQ(EncodeOpen(open), expected);

    EXPECT_EQ(EncodeRender({7, 8192, 128}), Bytes({12, kRender, 7, 8192, 128}));
    EXPECT_EQ(EncodeExit(), Bytes({0, kExit}));
    EXPECT_EQ(EncodeHello(), Bytes({8, kHello, kMagic, kVersion}));

    const std::vector<uint8_t> frame = EncodeOpen(open);
    const std::vector<uint8_t> back(frame.begin() + kHeaderSize, frame.end());
    const OpenRequest decoded = DecodeOpen(back.data(), back.size());
    EXPECT_EQ(decoded.Path, "a.mid");
    EXPECT_EQ(decoded.Style, PathStyle::Unix);
    EXPECT_EQ(decoded.CurrentFolder, "/m");
    EXPECT_EQ(decoded.Format.SampleRate, 44100u);
}

TEST(HostProtocol, LoadResultsComeBackAsTheyWereSent)
{
    LoadResult loaded;
    loaded.Loaded = true;
    loaded.Module.InterfaceVersion = 100;
    loaded.Module.PluginVersion = 0x80000001u;
    loaded.Module.Reentrant = 1;
    loaded.Module.HasDeinit = true;
    loaded.Module.HasOpenError = true;
    loaded.Module.Extensions = {"", "MP3", "a b"};
    MessageWriter out(kProbe | kReplyFlag);
    WriteLoadResult(out, loaded);
    const std::vector<uint8_t> payload = Payload(out);
    const LoadResult back = DecodeLoadResult(payload.data(), payload.size());
    EXPECT_TRUE(back.Loaded);
    EXPECT_EQ(back.Module.PluginVersion, 0x80000001u);
    EXPECT_FALSE(back.Module.HasInit);
    EXPECT_TRUE(back.Module.HasDeinit);
    EXPECT_FALSE(back.Module.HasSongInfo);
    EXPECT_TRUE(back.Module.HasOpenError);
    EXPECT_EQ(back.Module.Extensions, loaded.Module.Extensions);

    LoadResult failed;
    failed.LoadFailure = true;
    failed.Code = 3;
    failed.Reason = "interface version 99 (100 needed)";
    MessageWriter refusal(kLoad | kReplyFlag);
    WriteLoadResult(refusal, failed);
    const std::vector<uint8_t> refused = Payload(refusal);
    EXPECT_EQ(refused, Bytes({}, std::string("\0\1\3\x21\0\0\0", 7) + failed.Reason));
    const LoadResult why = DecodeLoadResult(refused.data(), refused.size());
    EXPECT_FALSE(why.Loaded);
    EXPECT_TRUE(why.LoadFailure);
    EXPECT_EQ(why.Code, 3);
    EXPECT_EQ(why.Reason, failed.Reason);

    // A reason with a NUL in it is cut there rather than sent against the rules.
    failed.Reason = std::string("before\0after", 12);
    MessageWriter cut(kLoad | kReplyFlag);
    WriteLoadResult(cut, failed);
    const std::vector<uint8_t> cutPayload = Payload(cut);
    EXPECT_EQ(DecodeLoadResult(cutPayload.data(), cutPayload.size()).Reason, "before");
}

TEST(HostProtocol, AnOpensFailureAndASongsInformationComeBackAsSent)
{
    OpenReply refused;
    refused.Format.SampleRate = 44100;
    refused.Failure = "SoundFont /x.sf2 がありません";
    MessageWriter out(kOpen | kReplyFlag);
    WriteOpenReply(out, refused);
    const std::vector<uint8_t> payload = Payload(out);
    EXPECT_EQ(payload.size(), 4 + 32 + 4 + refused.Failure.size());
    const OpenReply back = DecodeOpenReply(payload.data(), payload.size());
    EXPECT_EQ(back.Handle, 0u);
    EXPECT_EQ(back.Format.SampleRate, 44100u);
    EXPECT_EQ(back.Failure, refused.Failure);
    // A reason is one line of the log: a longer one is refused.
    const std::vector<uint8_t> tooLong =
        Bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 2000}, std::string(2000, 'r'));
    EXPECT_EQ(Rejection([&] { DecodeOpenReply(tooLong.data(), tooLong.size()); }),
              "a text is too long");

    EXPECT_EQ(EncodeSongInfo(9), Bytes({4, kSongInfo, 9}));
    TZoSongInfo info;
    info.Title = "Overworld";
    info.Date = "1987";
    info.Copyright = "(C)";
    MessageWriter reply(kSongInfo | kReplyFlag);
    WriteSongInfo(reply, info);
    const std::vector<uint8_t> texts = Payload(reply);
    const TZoSongInfo got = DecodeSongInfoReply(texts.data(), texts.size());
    EXPECT_EQ(got.Title, "Overworld");
    EXPECT_EQ(got.Artist, "");
    EXPECT_EQ(got.Date, "1987");
    EXPECT_EQ(got.Copyright, "(C)");
    // Seven texts, no more and no fewer.
    const std::vector<uint8_t> six = Bytes({0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Rejection([&] { DecodeSongInfoReply(six.data(), six.size()); }), "reply ends early");
    const std::vector<uint8_t> eight = Bytes({0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Rejection([&] { DecodeSongInfoReply(eight.data(), eight.size()); }),
              "reply is longer than its content");
    EXPECT_LE(texts.size(), ReplyLimit(kSongInfo));
}

TEST(HostProtocol, ARenderReplyMayNotClaimMoreThanWasAsked)
{
    const RenderRequest request{1, 4, 3};
    const auto decode = [&](const std::vector<uint8_t>& b) {
        return Rejection([&] { DecodeRenderReply(b.data(), b.size(), request); });
    };
    // Two full blocks and a short one: accepted, the blocks start after the lengths.
    const std::vector<uint8_t> good = Bytes({3, 4, 4, 1}, "abcdefghi");
    const RenderReply reply = DecodeRenderReply(good.data(), good.size(), request);
    EXPECT_EQ(reply.Lengths, (std::vector<uint32_t>{4, 4, 1}));
    EXPECT_EQ(reply.DataOffset, 16u);

    EXPECT_EQ(decode(Bytes({1, 5}, "abcde")), "a render reply longer than asked (5 bytes for 4)");
    EXPECT_EQ(decode(Bytes({2, 2, 4}, "abcdef")), "a render reply goes on after a short block");
    EXPECT_EQ(decode(Bytes({0})), "a render reply with 0 blocks");
    EXPECT_EQ(decode(Bytes({4, 4, 4, 4, 4}, std::string(16, 'x'))), "a render reply with 4 blocks");
    EXPECT_EQ(decode(Bytes({1, 4}, "abc")), "a render reply whose bytes do not match its lengths");
    EXPECT_EQ(decode(Bytes({1, 3}, "abcd")), "a render reply whose bytes do not match its lengths");
    EXPECT_EQ(decode(Bytes({2, 4})), "a render reply with 2 blocks");
    EXPECT_EQ(decode({1, 0}), "reply ends early");

    // Blocks in shared memory: the reply holds the lengths alone, which the memory must hold.
    const auto shared = [&](const std::vector<uint8_t>& b, size_t room) {
        return Rejection([&] { DecodeSharedRenderReply(b.data(), b.size(), request, room); });
    };
    EXPECT_EQ(shared(Bytes({3, 4, 4, 1}), 9), "");
    EXPECT_EQ(DecodeSharedRenderReply(Bytes({2, 4, 3}).data(), 12, request, 100).DataOffset, 0u);
    EXPECT_EQ(shared(Bytes({3, 4, 4, 1}), 8),
              "a render reply beyond its shared memory (9 bytes in 8)");
    EXPECT_EQ(shared(Bytes({1, 4}, "data"), 100), "reply is longer than its content");
    EXPECT_EQ(shared(Bytes({1, 6}), 100), "a render reply longer than asked (6 bytes for 4)");
}

TEST(HostProtocol, TextsFlagsCountsAndLengthsAreChecked)
{
    const auto load = [](const std::vector<uint8_t>& b) {
        return Rejection([&] { DecodeLoadResult(b.data(), b.size()); });
    };
    EXPECT_EQ(load(Bytes({}, std::string("\0\0\3\0\0\0a\0b", 9))), "a text holds a NUL byte");
    EXPECT_EQ(load(Bytes({}, std::string("\0\0\x10\0\0\0abc", 9))),
              "a text runs past the end of the reply");
    EXPECT_EQ(load(Bytes({}, std::string("\0\0", 2) + std::string("\x01\x00\x01\x00", 4) +
                                 std::string(65537, 'r'))),
              "a text is too long");
    EXPECT_EQ(load(Bytes({}, std::string("\2", 1))), "a flag is neither 0 nor 1");
    EXPECT_EQ(load(Bytes({}, std::string("\0\0\0\0\0\0zz", 8))),
              "reply is longer than its content");
    // An extension count that the rest of the reply cannot hold.
    std::vector<uint8_t> many = Bytes({}, "\1");
    const std::vector<uint8_t> record = Bytes({100, 1, 1}, std::string("\0\0\0\0", 4));
    many.insert(many.end(), record.begin(), record.end());
    const std::vector<uint8_t> count = Bytes({1000000}, std::string(8, '\0'));
    many.insert(many.end(), count.begin(), count.end());
    EXPECT_EQ(load(many), "too many extensions");

    // A host left from another build says its version, and is refused with both.
    const std::vector<uint8_t> hello = Bytes({kMagic, 1, 64});
    EXPECT_EQ(Rejection([&] { DecodeHelloReply(hello.data(), hello.size()); }),
              "the plug-in host speaks protocol version 1, not 2 (a host of another build of "
              "the program)");
    const std::vector<uint8_t> odd = Bytes({kMagic, kVersion, 16});
    EXPECT_EQ(Rejection([&] { DecodeHelloReply(odd.data(), odd.size()); }),
              "the plug-in host reports 16-bit pointers");
    const std::vector<uint8_t> stranger = Bytes({0x12345678, kVersion, 64});
    EXPECT_EQ(Rejection([&] { DecodeHelloReply(stranger.data(), stranger.size()); }),
              "the program answering is no plug-in host");
}

TEST(HostProtocol, ReplyLimitsFollowTheRequest)
{
    const RenderRequest request{1, 8192, 128};
    EXPECT_EQ(ReplyLimit(kRender, &request), 4 + 4 * 128 + 8192 * 128);
    const RenderRequest huge{1, kMaxRenderBytes, kMaxBlocks};
    EXPECT_EQ(ReplyLimit(kRender, &huge), kMaxPayload);
    EXPECT_EQ(ReplyLimit(kSetPosition), 8 + kMaxTextLength);
    EXPECT_EQ(ReplyLimit(kRenderShared, &request), 4 + 4 * kMaxBlocks);
}

// One host process and the conversation with it: a program that is no host, ends, never
// answers or announces too much is refused; a real host that fails a request is dead for good.
#include "kpi/KpiHostProcess.h"
#include "kpi/KpiHostPool.h"
#include "kpi/KpiWine.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"
#include "texts/Texts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

using testsupport::TempFolder;
namespace fs = std::filesystem;

namespace {

// The message of the start-up failure of a host started as arguments.
std::string StartFailure(const std::vector<std::string>& arguments, int timeLimitMs = 5000)
{
    try {
        TZoKpiHost host({arguments, {}, "fake-host"}, std::chrono::milliseconds(timeLimitMs));
        return "";
    } catch (const EKpiHostFailed& e) {
        EXPECT_EQ(e.Why, EKpiHostFailed::Cause::CannotStart);
        return e.what();
    }
}

// Why the host called fake-host could not start.
std::string CannotStart(const std::string& why)
{
    return txt::Format(txt::Id::HostCannotStart, {"fake-host", why});
}

std::string NativeHost()
{
    return TZoKpiHostPool().HostProgramPath(KpiHostKind::Native);
}

} // namespace

TEST(HostProcess, ProgramsThatAreNoHostAreRefusedWithTheReason)
{
    // cat sends the greeting back, which is a request, not its reply.
    EXPECT_EQ(StartFailure({"/bin/cat"}),
              CannotStart(txt::Format(txt::Id::HostWrongMessage, {"1"})));
    EXPECT_EQ(
        StartFailure({"/bin/sh", "-c", "echo 'no such thing' >&2; exit 4"}),
        CannotStart(std::string(txt::Text(txt::Id::HostEnded)) + " (exit code 4): no such thing"));
    EXPECT_EQ(StartFailure({"/bin/sh", "-c", "exec sleep 30"}, 300),
              CannotStart(txt::Format(txt::Id::HostNoAnswer, {"300 ms"})));
    // A header that announces a reply larger than any the request can have.
    EXPECT_EQ(StartFailure({"/bin/sh", "-c",
                            "printf '\\377\\377\\377\\177\\001\\000\\000\\200'; "
                            "exec sleep 30"}),
              CannotStart(txt::Format(txt::Id::HostReplyTooLarge, {"2147483647"})));
    EXPECT_EQ(StartFailure({"/nonexistent/host"}),
              CannotStart("/nonexistent/host: No such file or directory"));
}

TEST(HostProcess, AHostOfAnotherBuildIsRefusedWithBothVersions)
{
    // A greeting answered by a host of protocol version 1, which then waits for requests.
    EXPECT_EQ(StartFailure({"/bin/sh", "-c",
                            "printf '\\014\\000\\000\\000\\001\\000\\000\\200HIPK"
                            "\\001\\000\\000\\000\\100\\000\\000\\000'; exec sleep 30"}),
              CannotStart("the plug-in host speaks protocol version 1, not 2 (a host of another "
                          "build of the program)"));

    // This build's host answers a greeting of another version with its own, so that a program
    // of another build can say the same.
    std::string error;
    const auto host = platform::ChildProcess::Start({{NativeHost()}, {}}, error);
    ASSERT_NE(host, nullptr) << error;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::vector<uint8_t> hello = kpihost::EncodeHello();
    hello[12] = 1; // the version field
    ASSERT_EQ(host->Write(hello.data(), hello.size(), deadline),
              platform::ChildProcess::IoResult::Done);
    uint8_t reply[kpihost::kHeaderSize + 12];
    ASSERT_EQ(host->Read(reply, sizeof reply, deadline), platform::ChildProcess::IoResult::Done);
    EXPECT_EQ(
        kpihost::ReadHeader(reinterpret_cast<const uint8_t(&)[kpihost::kHeaderSize]>(reply)).Kind,
        kpihost::kHello | kpihost::kReplyFlag);
    EXPECT_EQ(kpihost::DecodeHelloReply(reply + kpihost::kHeaderSize, 12).Version,
              kpihost::kVersion);
}

TEST(HostProcess, AHostThatFailsARequestStaysDead)
{
    TZoKpiHost host({{NativeHost()}, {}, "pellan-kpi-host"}, std::chrono::seconds(10));
    ASSERT_TRUE(host.Alive());
    std::vector<uint8_t> payload;
    // A song the host never opened: it refuses, and a refusing host is not trusted again.
    EXPECT_THROW(host.Call(kpihost::EncodeRender({9, 8192, 1}), payload,
                           kpihost::ReplyLimit(kpihost::kRender)),
                 EKpiHostFailed);
    EXPECT_FALSE(host.Alive());
    EXPECT_EQ(
        host.DeathReason().rfind(txt::Format(txt::Id::HostReportedFailure, {"no such song"}), 0),
        0u)
        << host.DeathReason();
    try {
        host.Call(kpihost::EncodeExit(), payload, kpihost::ReplyLimit(kpihost::kExit));
        ADD_FAILURE() << "a dead host answered";
    } catch (const EKpiHostFailed& e) {
        EXPECT_EQ(std::string(e.what()), host.DeathReason());
    }
}

TEST(HostProcess, AHostAskedToEndEndsInOrder)
{
    TZoKpiHost host({{NativeHost()}, {}, "pellan-kpi-host"}, std::chrono::seconds(10));
    host.RequestExit();
    host.Finish(std::chrono::steady_clock::now() + std::chrono::seconds(10));
    EXPECT_TRUE(host.Ended());
    EXPECT_FALSE(host.Alive());
}

TEST(WineLocation, DebiansScriptLeadsToThe64BitLoaderBesideIt)
{
    TempFolder dir;
    fs::create_directories(dir / "bin");
    fs::create_directories(dir / "lib/wine");
    const auto program = [&](const std::string& path, const std::string& text) {
        testsupport::WriteFileBytes(path, text);
        ::chmod(path.c_str(), 0755);
    };
    program(dir / "lib/wine/wine", "loader");
    program(dir / "lib/wine/wine64", "loader");
    program(dir / "bin/wine",
            "#!/bin/sh -e\n\nwine32=" + dir / "lib/wine/wine" +
                "\nwine64=" + dir / "lib/wine/wine64" +
                "\nif test -x $wine32; then wine=$wine32; fi\nexec $wine \"$@\"\n");
    const std::string path = "/nonexistent:" + dir / "bin";
    kpihost::WineLoaders found = kpihost::FindWine(path);
    EXPECT_EQ(found.Wine32, dir / "bin/wine");
    EXPECT_EQ(found.Wine64, dir / "lib/wine/wine64");

    // A script that names only the 32-bit loader: the 64-bit one beside it.
    program(dir / "bin/wine", "#!/bin/sh\nexec \"" + dir / "lib/wine/wine" + "\" \"$@\"\n");
    EXPECT_EQ(kpihost::FindWine(path).Wine64, dir / "lib/wine/wine64");

    // wine64 on PATH comes first.
    program(dir / "bin/wine64", "#!/bin/sh\n");
    EXPECT_EQ(kpihost::FindWine(path).Wine64, dir / "bin/wine64");

    // No Wine at all.
    found = kpihost::FindWine(dir / "lib");
    EXPECT_EQ(found.Wine32, "");
    EXPECT_EQ(found.Wine64, "");
}

TEST(WineLocation, AWineThatIsItselfA64BitProgramRunsBothKinds)
{
    TempFolder dir;
    fs::create_directories(dir / "bin");
    fs::copy_file("/bin/true", dir / "bin/wine");
    const kpihost::WineLoaders found = kpihost::FindWine(dir / "bin");
    EXPECT_EQ(found.Wine32, dir / "bin/wine");
    EXPECT_EQ(found.Wine64, dir / "bin/wine");
}

TEST(WineLocation, WineDebugIsSilencedUnlessTheUserSetIt)
{
    testsupport::ScopedEnvironment environment;
    environment.Set("WINEDEBUG", std::nullopt);
    EXPECT_EQ(kpihost::WineEnvironment(),
              (std::vector<std::pair<std::string, std::string>>{{"WINEDEBUG", "-all"}}));
    environment.Set("WINEDEBUG", "+loaddll");
    EXPECT_TRUE(kpihost::WineEnvironment().empty());
}

// Shared memory between the program and a host: what one side writes the other reads, the name
// can go while both keep their mappings, and a region too small or missing is refused.
#include "platform/SharedMemory.h"
#include "platform/ChildProcess.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

using platform::SharedMemory;

TEST(SharedMemory, BothSidesSeeTheSameBytesAfterTheNameIsGone)
{
    std::string error;
    auto made = SharedMemory::Create(1 << 20, error);
    ASSERT_NE(made, nullptr) << error;
    const std::string name = made->Name();
    ASSERT_FALSE(name.empty());
    auto opened = SharedMemory::Open(name, 1 << 20, error);
    ASSERT_NE(opened, nullptr) << error;
    made->RemoveName();
    EXPECT_NE(::access(name.c_str(), F_OK), 0) << "the name is removed";
    std::memcpy(opened->Data() + 1000, "from the host", 14);
    EXPECT_STREQ(reinterpret_cast<const char*>(made->Data()) + 1000, "from the host");

    // Another process, here a shell, writing into it through the name.
    auto other = SharedMemory::Create(4096, error);
    ASSERT_NE(other, nullptr) << error;
    auto shell = platform::ChildProcess::Start(
        {{"/bin/sh", "-c", "printf 'written elsewhere' 1<>\"" + other->Name() + "\""}, {}}, error);
    ASSERT_NE(shell, nullptr) << error;
    ASSERT_TRUE(shell->WaitForExit(std::chrono::steady_clock::now() + std::chrono::seconds(10)));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(other->Data()), 17), "written elsewhere");
    const std::string otherName = other->Name();
    other.reset();
    EXPECT_NE(::access(otherName.c_str(), F_OK), 0) << "a region goes with its maker";
}

TEST(SharedMemory, ARegionTooSmallOrMissingIsRefused)
{
    std::string error;
    auto made = SharedMemory::Create(4096, error);
    ASSERT_NE(made, nullptr) << error;
    EXPECT_EQ(SharedMemory::Open(made->Name(), 8192, error), nullptr);
    EXPECT_EQ(SharedMemory::Open("/nonexistent/region", 4096, error), nullptr);
    EXPECT_EQ(error, "cannot open /nonexistent/region: No such file or directory");
}

#include "runtime/core/cp936codec.h"
#include "runtime/core/processlauncher.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

using namespace pennaro;

namespace {

class LaunchCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    // Blanks and Chinese in the path: it must reach the program as one argument, unchanged.
    QString nativePath() const { return m_dir.filePath(QStringLiteral("a b 名单.txt")); }
    Text path() const { return Cp936Codec::encode(nativePath()); }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(LaunchCommand, StartsADetachedProgramWithItsArgumentsAsGiven) {
    ASSERT_TRUE(launchCommand({"/usr/bin/touch", path()}, false));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!QFileInfo::exists(nativePath()) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(QFileInfo::exists(nativePath()));
}

TEST_F(LaunchCommand, WaitingReturnsWhenTheProgramHasEnded) {
    ASSERT_TRUE(launchCommand({"/bin/sh", "-c", "sleep 0.3 && touch \"$1\"", "sh", path()}, true));
    EXPECT_TRUE(QFileInfo::exists(nativePath()));
}

TEST_F(LaunchCommand, FailsWhenNothingCanBeStarted) {
    const Text missing = Cp936Codec::encode(m_dir.filePath(QStringLiteral("no such program")));
    for (const bool wait : {false, true}) {
        EXPECT_FALSE(launchCommand({missing}, wait)) << "wait " << wait;
        EXPECT_FALSE(launchCommand({missing, "argument"}, wait)) << "wait " << wait;
        EXPECT_FALSE(launchCommand({}, wait)) << "wait " << wait;
        EXPECT_FALSE(launchCommand({Text()}, wait)) << "wait " << wait;
    }
}

// The test helpers themselves, where a fault would hide in other binaries'
// results: a death-test child runs the exit handlers it shares with the
// parent.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

namespace {

bool isFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(ScratchDir, OutlivesADeathTestChildThatExits) {
    std::string before = scratchDir();
    EXPECT_EXIT(std::exit(3), ::testing::ExitedWithCode(3), "");
    EXPECT_TRUE(isFolder(before));
    std::string after = scratchDir();
    EXPECT_NE(after, before);
    EXPECT_TRUE(isFolder(after));
}

TEST(ScratchDir, PassesOverAFolderAChildMadeUnderTheNextNumber) {
    std::string parent = scratchDir();
    EXPECT_EXIT(
        {
            writeFile(scratchDir() + "/mark", "x");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::string next = scratchDir();
    EXPECT_TRUE(isFolder(next));
    EXPECT_NE(next, parent);
}

}  // namespace

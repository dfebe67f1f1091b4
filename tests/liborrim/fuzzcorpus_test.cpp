// Replays every input kept from fuzzing the PNM reader: each must either be
// read or be refused with one line and status 1, never crash.
#include "testsupport.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace testkit;

namespace {

std::vector<std::string> corpusFiles() {
    std::vector<std::string> files;
    const std::string dir = FUZZ_CORPUS_DIR "/pnmread";
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') files.push_back(dir + "/" + e->d_name);
        closedir(d);
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(FuzzCorpus, EveryKeptInputIsReadOrRefusedInOneLine) {
    std::vector<std::string> files = corpusFiles();
    ASSERT_FALSE(files.empty());
    for (const std::string& file : files) {
        RunResult r = runProgram(PNMCOPY_PATH, {"-quiet"}, "", file);
        SCOPED_TRACE(file + ": " + r.err);
        EXPECT_TRUE(r.status == 0 || r.status == 1);
        if (r.status == 1) {
            EXPECT_EQ(countLines(r.err), 1);
            EXPECT_EQ(r.err.rfind("liborrim_pnmcopy: ", 0), 0u);
        }
    }
}

}  // namespace

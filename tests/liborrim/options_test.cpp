// Keyword matching and the table-driven option parser.
#include <orrim.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// --------------------------------------------------------------------------
// pm_keymatch

struct KeymatchCase {
    const char* arg;
    const char* keyword;
    int minchars;
    bool expected;
};

class Keymatch : public ::testing::TestWithParam<KeymatchCase> {};

TEST_P(Keymatch, Matches) {
    const KeymatchCase& c = GetParam();
    EXPECT_EQ(pm_keymatch(c.arg, c.keyword, c.minchars), c.expected)
        << c.arg << " vs " << c.keyword << " min " << c.minchars;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Keymatch,
    ::testing::Values(KeymatchCase{"-verbose", "-verbose", 2, true},
                      KeymatchCase{"-v", "-verbose", 2, true},   // the hyphen counts
                      KeymatchCase{"-v", "-verbose", 3, false},  // too short
                      KeymatchCase{"-te", "-text", 3, true},
                      KeymatchCase{"-t", "-text", 3, false},
                      KeymatchCase{"-verbosely", "-verbose", 2, false},  // longer than the keyword
                      KeymatchCase{"-Verbose", "-verbose", 2, false},    // case-sensitive
                      KeymatchCase{"-vx", "-verbose", 2, false},
                      KeymatchCase{"--verbose", "-verbose", 2, true},  // "--" is "-"
                      KeymatchCase{"--v", "-verbose", 2, true},
                      KeymatchCase{"--v", "-verbose", 3, false},
                      KeymatchCase{"---verbose", "-verbose", 2, false},
                      KeymatchCase{"", "-verbose", 0, false},
                      KeymatchCase{"verbose", "-verbose", 2, false}));

// --------------------------------------------------------------------------
// optParseOptions3

// argv built from strings, writable and null-terminated like main's.
struct Args {
    std::vector<std::string> storage;
    std::vector<char*> argv;
    int argc;
    explicit Args(std::vector<std::string> words) : storage(std::move(words)) {
        for (std::string& s : storage) argv.push_back(&s[0]);
        argv.push_back(nullptr);
        argc = int(storage.size());
    }
    std::vector<std::string> remaining() const {
        std::vector<std::string> out;
        for (int i = 0; i < argc; ++i) out.push_back(argv[i]);
        return out;
    }
};

// The quantizer's table: -floyd/-fs and -nofloyd/-nofs are one switch each.
struct QuantOptions {
    unsigned floyd = 99, nofloyd = 99, mapGiven = 99;
    const char* mapFile = nullptr;
    OptEntry table[6];
    QuantOptions()
        : table{{0, "floyd", OPT_FLAG, nullptr, &floyd, 0},       {0, "fs", OPT_FLAG, nullptr, &floyd, 0},
                {0, "nofloyd", OPT_FLAG, nullptr, &nofloyd, 0},   {0, "nofs", OPT_FLAG, nullptr, &nofloyd, 0},
                {0, "mapfile", OPT_STRING, &mapFile, &mapGiven, 0}, {0, nullptr, OPT_END, nullptr, nullptr, 0}} {}
    void parse(Args& args, bool allowNegNum = false) {
        OptStruct3 opt{false, allowNegNum, table};
        optParseOptions3(&args.argc, args.argv.data(), opt, sizeof opt, 0);
    }
};

TEST(OptParse, RemovesOptionsAndKeepsArgumentsInOrder) {
    QuantOptions q;
    Args args({"huecut", "-floyd", "5", "-map", "m.ppm", "in.ppm"});
    q.parse(args);
    EXPECT_EQ(args.remaining(), (std::vector<std::string>{"huecut", "5", "in.ppm"}));
    EXPECT_EQ(args.argv[args.argc], nullptr);
    EXPECT_EQ(q.floyd, 1u);
    EXPECT_EQ(q.mapGiven, 1u);
    EXPECT_STREQ(q.mapFile, "m.ppm");
}

TEST(OptParse, AbsentOptionsHaveCountZero) {
    QuantOptions q;
    Args args({"huecut", "8"});
    q.parse(args);
    EXPECT_EQ(q.floyd, 0u);
    EXPECT_EQ(q.nofloyd, 0u);
    EXPECT_EQ(q.mapGiven, 0u);
    EXPECT_EQ(q.mapFile, nullptr);
    EXPECT_EQ(args.argc, 2);
}

TEST(OptParse, CountsEveryOccurrenceOfEitherSpelling) {
    QuantOptions q;
    Args args({"huecut", "-floyd", "--fs", "-nofs"});
    q.parse(args);
    EXPECT_EQ(q.floyd, 2u);
    EXPECT_EQ(q.nofloyd, 1u);
    EXPECT_EQ(args.argc, 1);
}

TEST(OptParse, PrefixOfTwoSpellingsOfOneOptionIsNotAmbiguous) {
    QuantOptions q;
    Args args({"huecut", "-f", "-no"});
    q.parse(args);
    EXPECT_EQ(q.floyd, 1u);
    EXPECT_EQ(q.nofloyd, 1u);
}

struct ValueCase {
    std::vector<std::string> words;
    const char* value;
};

class OptValue : public ::testing::TestWithParam<ValueCase> {};

TEST_P(OptValue, IsStored) {
    QuantOptions q;
    Args args(GetParam().words);
    q.parse(args);
    ASSERT_NE(q.mapFile, nullptr);
    EXPECT_STREQ(q.mapFile, GetParam().value);
    EXPECT_EQ(args.remaining(), (std::vector<std::string>{"huecut", "in.ppm"}));
}

INSTANTIATE_TEST_SUITE_P(Forms, OptValue,
                         ::testing::Values(ValueCase{{"huecut", "-mapfile", "a.ppm", "in.ppm"}, "a.ppm"},
                                           ValueCase{{"huecut", "--mapfile", "a.ppm", "in.ppm"}, "a.ppm"},
                                           ValueCase{{"huecut", "-m=b.ppm", "in.ppm"}, "b.ppm"},
                                           ValueCase{{"huecut", "--mapf=c=d", "in.ppm"}, "c=d"},
                                           ValueCase{{"huecut", "-mapfile=", "in.ppm"}, ""},
                                           ValueCase{{"huecut", "-mapfile", "-", "in.ppm"}, "-"},
                                           ValueCase{{"huecut", "-mapfile", "x", "-mapfile", "y", "in.ppm"}, "y"}));

TEST(OptParse, DoubleHyphenEndsOptions) {
    QuantOptions q;
    Args args({"huecut", "--", "-floyd", "-"});
    q.parse(args);
    EXPECT_EQ(args.remaining(), (std::vector<std::string>{"huecut", "-floyd", "-"}));
    EXPECT_EQ(q.floyd, 0u);
}

TEST(OptParse, LoneHyphenIsAnArgument) {
    QuantOptions q;
    Args args({"huecut", "-", "-fs"});
    q.parse(args);
    EXPECT_EQ(args.remaining(), (std::vector<std::string>{"huecut", "-"}));
}

TEST(OptParse, NegativeNumbersWhenAllowed) {
    QuantOptions q;
    Args args({"huecut", "-5", "-.5", "-fs"});
    q.parse(args, true);
    EXPECT_EQ(args.remaining(), (std::vector<std::string>{"huecut", "-5", "-.5"}));
    QuantOptions strict;
    Args again({"huecut", "-5"});
    EXPECT_EXIT(strict.parse(again), ::testing::ExitedWithCode(1), "^orrim: unrecognized option '-5'\n$");
}

// Exact names beat prefixes; short letters apply only when allowed.
struct MixedOptions {
    unsigned color = 0, colors = 0, verbose = 0, value = 0;
    const char* colorsValue = nullptr;
    const char* valueValue = nullptr;
    OptEntry table[5];
    MixedOptions()
        : table{{0, "color", OPT_FLAG, nullptr, &color, 0},
                {0, "colors", OPT_STRING, &colorsValue, &colors, 0},
                {'v', "verbose", OPT_FLAG, nullptr, &verbose, 0},
                {0, "value", OPT_STRING, &valueValue, &value, 0},
                {0, nullptr, OPT_END, nullptr, nullptr, 0}} {}
    void parse(Args& args, bool shortAllowed) {
        OptStruct3 opt{shortAllowed, false, table};
        optParseOptions3(&args.argc, args.argv.data(), opt, sizeof opt, 0);
    }
};

TEST(OptParse, ExactNameBeatsLongerNames) {
    MixedOptions m;
    Args args({"prog", "-color", "-colors=5"});
    m.parse(args, false);
    EXPECT_EQ(m.color, 1u);
    EXPECT_EQ(m.colors, 1u);
    EXPECT_STREQ(m.colorsValue, "5");
}

TEST(OptParse, ShortLetterOnlyWhenAllowed) {
    MixedOptions m;
    Args args({"prog", "-v"});
    m.parse(args, true);
    EXPECT_EQ(m.verbose, 1u);
    MixedOptions strict;
    Args again({"prog", "-v"});
    EXPECT_EXIT(strict.parse(again, false), ::testing::ExitedWithCode(1),
                "^orrim: ambiguous option '-v': it could be -verbose, -value\n$");
}

struct BadOptionCase {
    const char* name;
    std::vector<std::string> words;
    const char* message;
};

class BadOption : public ::testing::TestWithParam<BadOptionCase> {};

TEST_P(BadOption, EndsTheRunNamingIt) {
    MixedOptions m;
    Args args(GetParam().words);
    EXPECT_EXIT(m.parse(args, false), ::testing::ExitedWithCode(1), std::string("^orrim: ") + GetParam().message + "\n$");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadOption,
    ::testing::Values(
        BadOptionCase{"Unknown", {"prog", "-bogus"}, "unrecognized option '-bogus'"},
        BadOptionCase{"UnknownLong", {"prog", "--colorz"}, "unrecognized option '--colorz'"},
        BadOptionCase{"Ambiguous", {"prog", "-col"}, "ambiguous option '-col': it could be -color, -colors"},
        BadOptionCase{"AmbiguousWithValue", {"prog", "--c=3"}, "ambiguous option '--c=3': it could be -color, -colors"},
        BadOptionCase{"MissingValue", {"prog", "x", "-colors"}, "option -colors requires a value"},
        BadOptionCase{"FlagWithValue", {"prog", "-color=red"}, "option -color does not take a value"},
        BadOptionCase{"EmptyName", {"prog", "-=x"}, "unrecognized option '-=x'"},
        BadOptionCase{"ControlBytesEscaped", {"prog", "-x\x1b[2J\r"}, "unrecognized option '-x\\\\x1b\\[2J\\\\x0d'"},
        BadOptionCase{"AmbiguousEscaped", {"prog", "-col=\a"}, "ambiguous option '-col=\\\\x07': it could be -color, -colors"}),
    [](const ::testing::TestParamInfo<BadOptionCase>& info) { return std::string(info.param.name); });

}  // namespace

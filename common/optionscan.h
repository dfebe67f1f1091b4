// The command-line pieces the two PNG programs share: who the program is,
// the scan over its option words, the values an option takes, the version
// report and the usage for what is left over.
#ifndef OPTIONSCAN_H
#define OPTIONSCAN_H

#include <orrim.h>

#include <cstdlib>

// How a program words its version report.
enum VersionLayout {
    // "<name> version <version>, compiled with libpng version <libpng>"
    VERSION_ONE_LINE,
    // "<name> version <version>." then a line each for libpng, zlib and the
    // sample width, and an empty line.
    VERSION_WITH_LIBRARIES
};

// What a program's command line is, for the pieces below.
struct ProgramCommandLine {
    const char* name;           // as the version report names it
    const char* version;
    const char* usageSynopsis;  // handed to pm_usage
    VersionLayout versionLayout;
    // Whether an unknown option ends the run with the usage after the
    // version report; without, the scan reports the version and goes on.
    bool usageAfterUnknownOption;
};

// The version report on standard error.
void reportProgramVersion(const ProgramCommandLine& program);

// The version report, then the usage when the program ends on an unknown
// option.
void answerUnknownOption(const ProgramCommandLine& program);

// Whether word is an option word: a hyphen and at least one more character.
// A lone "-" names standard input and ends the options like any file name.
inline bool isOptionWord(const char* word) { return word[0] == '-' && word[1] != '\0'; }

// Scans the option words from argv[1] on into settings and returns the index
// of the first argument that is not one. scanOne matches the word at
// argv[*index], takes its values (moving *index past them) and returns false
// for a word that matches none of its keywords.
template <typename Settings>
int scanOptionWords(const ProgramCommandLine& program, int argc, char** argv, Settings* settings,
                    bool (*scanOne)(int, char**, int*, Settings*)) {
    int index = 1;
    while (index < argc && isOptionWord(argv[index])) {
        if (!scanOne(argc, argv, &index, settings)) answerUnknownOption(program);
        ++index;
    }
    return index;
}

// The value after the option at argv[*index], which *index then points at; a
// missing one ends the run with the program's usage message.
inline const char* takeOptionValue(int argc, char** argv, int* index, const char* usageSynopsis) {
    if (*index + 1 >= argc) pm_usage(usageSynopsis);
    ++*index;
    return argv[*index];
}

// A number at the start of text, after optional white space; text that does
// not start with one leaves *value as it was. strtof stands in for sscanf,
// whose behaviour is undefined for a number a float cannot hold.
inline void readFloat(const char* text, float* value) {
    char* end = nullptr;
    float number = strtof(text, &end);
    if (end != text) *value = number;
}

// The input file named at argv[*index], which *index then moves past, or "-"
// (standard input) when the options used every argument.
const char* takeInputName(int argc, char** argv, int* index);

// Any argument from argv[index] on is one too many: the usage ends the run.
void rejectSurplusArguments(const ProgramCommandLine& program, int argc, int index);

#endif

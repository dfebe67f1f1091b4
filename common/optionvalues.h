// Option values as the two PNG programs read them from their command lines.
#ifndef OPTIONVALUES_H
#define OPTIONVALUES_H

#include <orrim.h>

#include <cstdlib>

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

#endif

// keymatch.cpp - abbreviation matching of one command-line keyword.
#include <orrim.h>

#include <cstring>

bool pm_keymatch(const char* arg, const char* keyword, int minchars) {
    if (!arg || !keyword) return false;
    // "--name" is the same option as "-name".
    if (arg[0] == '-' && arg[1] == '-' && arg[2] != '\0' && keyword[0] == '-' && keyword[1] != '-') ++arg;
    size_t len = strlen(arg);
    if (len == 0 || int(len) < minchars) return false;
    if (len > strlen(keyword)) return false;
    return strncmp(arg, keyword, len) == 0;
}

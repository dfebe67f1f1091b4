// options.cpp - the table-driven long-option parser.
#include <orrim.h>

#include "internal.h"

#include <cctype>
#include <cstring>
#include <string>

namespace {

int tableLength(const OptEntry* table) {
    int n = 0;
    while (table[n].type != OPT_END) {
        if (table[n].type != OPT_FLAG && table[n].type != OPT_STRING)
            pm_error("internal error: option table entry %d has unknown type %d", n, table[n].type);
        ++n;
    }
    return n;
}

// Two entries that set the same count and value are spellings of one
// option (like -floyd and -fs); a prefix matching only such spellings is not
// ambiguous.
bool sameOption(const OptEntry& a, const OptEntry& b) {
    return a.type == b.type && a.specified == b.specified && a.value == b.value;
}

bool looksLikeNegativeNumber(const char* arg) {
    if (arg[0] != '-') return false;
    unsigned char c1 = static_cast<unsigned char>(arg[1]);
    unsigned char c2 = c1 ? static_cast<unsigned char>(arg[2]) : 0;
    return isdigit(c1) || (c1 == '.' && isdigit(c2));
}

// The entry named by name[0..len): an exact long name first, then a unique
// (up to spellings of one option) prefix. Ends the run when there is none.
const OptEntry* findLongOption(const OptEntry* table, int n, const char* name, size_t len, const char* arg,
                               const char* usage) {
    for (int i = 0; i < n; ++i) {
        const char* longName = table[i].longName;
        if (longName && strlen(longName) == len && strncmp(longName, name, len) == 0) return &table[i];
    }
    const OptEntry* found = nullptr;
    bool ambiguous = false;
    std::string candidates;
    for (int i = 0; i < n && len > 0; ++i) {
        const char* longName = table[i].longName;
        if (!longName || strncmp(longName, name, len) != 0) continue;
        if (!candidates.empty()) candidates += ", ";
        candidates += "-";
        candidates += longName;
        if (!found)
            found = &table[i];
        else if (!sameOption(*found, table[i]))
            ambiguous = true;
    }
    if (!found) pm_errorThenUsage(usage, "unrecognized option '%s'", pm_escapetext(arg).c_str());
    if (ambiguous)
        pm_errorThenUsage(usage, "ambiguous option '%s': it could be %s", pm_escapetext(arg).c_str(),
                          candidates.c_str());
    return found;
}

const OptEntry* findShortOption(const OptEntry* table, int n, char letter) {
    for (int i = 0; i < n; ++i)
        if (table[i].shortName && table[i].shortName == letter) return &table[i];
    return nullptr;
}

std::string displayName(const OptEntry& entry) {
    if (entry.longName) return std::string("-") + entry.longName;
    return std::string("-") + entry.shortName;
}

}  // namespace

void optParseOptions3(int* argc, char** argv, OptStruct3 opt, size_t optStructSize, unsigned long flags) {
    // One layout of the description exists; the size and flags are kept for
    // the calling convention.
    (void)optStructSize;
    (void)flags;
    if (!opt.optTable) pm_error("internal error: no option table");
    const OptEntry* table = opt.optTable;
    int n = tableLength(table);
    for (int i = 0; i < n; ++i)
        if (table[i].specified) *table[i].specified = 0;
    if (*argc < 1) return;

    int kept = 1;
    int i = 1;
    for (; i < *argc; ++i) {
        char* arg = argv[i];
        if (strcmp(arg, "--") == 0) {
            ++i;
            break;
        }
        if (arg[0] != '-' || arg[1] == '\0' || (opt.allowNegNum && looksLikeNegativeNumber(arg))) {
            argv[kept++] = arg;
            continue;
        }
        bool doubleHyphen = arg[1] == '-';
        const char* name = arg + (doubleHyphen ? 2 : 1);
        const char* equals = strchr(name, '=');
        size_t nameLen = equals ? size_t(equals - name) : strlen(name);
        const OptEntry* entry = nullptr;
        if (opt.shortAllowed && !doubleHyphen && nameLen == 1) entry = findShortOption(table, n, name[0]);
        if (!entry) entry = findLongOption(table, n, name, nameLen, arg, opt.usage);

        if (entry->type == OPT_FLAG) {
            if (equals) pm_errorThenUsage(opt.usage, "option %s does not take a value", displayName(*entry).c_str());
        } else {
            const char* value;
            if (equals) {
                value = equals + 1;
            } else {
                if (i + 1 >= *argc)
                    pm_errorThenUsage(opt.usage, "option %s requires a value", displayName(*entry).c_str());
                value = argv[++i];
            }
            if (entry->value) *static_cast<const char**>(entry->value) = value;
        }
        if (entry->specified) ++*entry->specified;
    }
    for (; i < *argc; ++i) argv[kept++] = argv[i];
    *argc = kept;
    argv[kept] = nullptr;
}

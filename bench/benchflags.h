// Numeric command-line flags of the benchmark programs: "--name N" with N within bounds.
#pragma once

#include <string.h>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace benchflags {

struct IntFlag {
    const char *name;
    int *value;
    int low, high;
};

enum class Taken { kNo, kYes, kBadValue };

// Takes argv[*i] and the value after it when it names one of flags, moving *i onto the value.
// A value that is not a whole number within the flag's bounds is reported on the standard error.
inline Taken TakeIntFlag(int argc, char **argv, int *i, std::span<const IntFlag> flags)
{
    for (const IntFlag &f : flags) {
        if (strcmp(argv[*i], f.name) != 0 || *i + 1 >= argc)
            continue;
        const char *text = argv[++*i];
        char *end = nullptr;
        long v = strtol(text, &end, 10);
        if (end == text || *end != '\0' || v < f.low || v > f.high) {
            fprintf(stderr, "%s wants a number from %d to %d\n", f.name, f.low, f.high);
            return Taken::kBadValue;
        }
        *f.value = static_cast<int>(v);
        return Taken::kYes;
    }
    return Taken::kNo;
}

}  // namespace benchflags

#pragma once
// Shared pieces of the fuzz targets: a private folder for the process and a hard stop that tells
// libFuzzer about a broken property.

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace veltrano::fuzz {

// Aborts (a finding) with the reason on standard error.
[[noreturn]] inline void broken(const std::string& why) {
    std::fprintf(stderr, "property broken: %s\n", why.c_str());
    std::abort();
}

inline void require(bool holds, const std::string& why) {
    if (!holds) broken(why);
}

// A folder of this process below $TMPDIR (or /tmp), made once; ends in "/".
inline std::string privateFolder() {
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/veltrano-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) broken("cannot make a temporary folder below " + pattern);
        return pattern + "/";
    }();
    return folder;
}

}  // namespace veltrano::fuzz

// soak: many clients of the library against misbehaving simulated fronts,
// with a misbehaving application, checking what a user relies on. See
// `soak --help` and docs/soak.md.
#include "Options.h"
#include "Soak.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv)
{
    // Single clients are single; the redundant ones are made here, from
    // the redundant client's own library.
    unsetenv("MDLINK_LINKS");
    const soak::Options options = soak::ParseOptions(argc, argv);
    try {
        return soak::Run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "soak: %s\n", e.what());
        return 2;
    }
}

// What the fuzz targets share: a check that aborts with a message (so that
// libFuzzer records the input), and the state image of the tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "state/device_state.h"
#include "state_image.h"

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace zorvane::fuzz {
using namespace zorvane::testing;
}  // namespace zorvane::fuzz

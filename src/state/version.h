// The tool's version, set once by the build.
#pragma once

namespace zorvane {

inline constexpr const char* kToolVersion = ZORVANE_VERSION;

}  // namespace zorvane

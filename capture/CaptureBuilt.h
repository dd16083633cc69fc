// Whether this build has capture files, for tools that offer capture options
// in every build: the MinGW-w64 build has no zstd, and there they answer the
// options with NotBuiltText. Link the target mdcapture_built to include it.
#pragma once

namespace mdcapture {

#ifdef MDLINK_CAPTURE
inline constexpr bool Built = true;
#else
inline constexpr bool Built = false;
#endif

inline constexpr const char* NotBuiltText = "capture files are not built in this build";

} // namespace mdcapture

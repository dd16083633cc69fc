// One record in the layout both clients write to their log files:
//
//   <app>[   KVMDApi][   HeartBeat] - Send HeartBeat
//   level text, module right-aligned in 10, tag right-aligned in 12, message
#pragma once

#include "KelvoBase.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>

namespace mdlink {

// The levels of a record (the base layer's numbers).
enum LogLevel { LogError = 1, LogWarning = 2, LogInfo = 3, LogDebug = 4 };

// Where both clients keep their log files, and for how many days.
inline constexpr char LogDirectory[] = "./KVMDLog";
inline constexpr char LogName[] = "KVMDLog";
inline constexpr int LogKeepDays = 5;

// The interface version GetApiVersion reports and the creation record
// names: pinned, since applications compare it; not the project's own
// version (CMake's project version).
inline constexpr char InterfaceVersion[] = "1.4.1.3";

inline const char* LogLevelText(int level)
{
    switch (level) {
    case 1: return "<err>";
    case 2: return "<war>";
    case 3: return "<app>";
    case 4: return "<dbg>";
    default: return "";
    }
}

inline void WriteLogRecord(Kelvo_Log& log, int level, const char* module, const char* tag, const char* format,
                           va_list args) KELVO_PRINTF(5, 0);

inline void WriteLogRecord(Kelvo_Log& log, int level, const char* module, const char* tag, const char* format,
                           va_list args)
{
    // Linux keeps 1999 characters of a message, Windows 2000.
#if defined(_WIN32)
    constexpr std::size_t MessageLimit = 2001;
#else
    constexpr std::size_t MessageLimit = 2000;
#endif
    char prefix[200] = {};
    std::snprintf(prefix, sizeof prefix, "%s[%10s][%12s]", LogLevelText(level), module, tag);
    char message[2001] = {};
    std::vsnprintf(message, MessageLimit, format, args);
    log.Trace(level, "%s - %s", prefix, message);
}

} // namespace mdlink

#pragma once

// The daemon log's levels, the system log's numbering. Every level passed to
// a log call in the daemon and the ZIP layer is one of these names.
namespace ruva {

inline constexpr int kLogEmerg = 0;
inline constexpr int kLogAlert = 1;
inline constexpr int kLogCrit = 2;
inline constexpr int kLogErr = 3;
inline constexpr int kLogWarning = 4;
inline constexpr int kLogNotice = 5;
inline constexpr int kLogInfo = 6;
inline constexpr int kLogDebug = 7;

}  // namespace ruva

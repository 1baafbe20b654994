// The system's revision, shared by the daemon and the front ends. The front
// ends refuse a daemon older than R10C, so it never goes below that.
#pragma once

namespace ruva {

inline constexpr const char* kSystemRevision = "R19K";

}  // namespace ruva

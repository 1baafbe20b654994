// What kivoserv says it is: its version lines, and later its greeting to the
// document server. The revision is the system's, never a second literal.
#pragma once

#include "common/version.h"

namespace ruva {

inline constexpr const char* kKivoservProgName = "kivoserv";
inline constexpr const char* kKivoservArticle = "KIVOSRV 1";
inline constexpr const char* kKivoProductName = "KIVO Server";
inline constexpr const char* kKivoProductNumber = "KIVO 1";

}  // namespace ruva

#include "bmod/ruvaserv/sgml/tavrmap.h"

namespace ruva {

constexpr std::array<TagEntry, kTavrTagCount> kTavrTags{};

}  // namespace ruva

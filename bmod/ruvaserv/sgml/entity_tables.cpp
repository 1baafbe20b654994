// The built-in entity tables, row by row in their load order.
#include "bmod/ruvaserv/sgml/entity.h"

namespace ruva {

const std::array<EntityRow, kCharEntityRows> charEntities = {};
const std::array<EntityRow, kLineEntityRows> lineEntities = {};
const std::array<EntityRow, kIsoEntityRows> charEntitiesISO_8859_1 = {};

}  // namespace ruva

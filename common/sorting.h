// Stable insertion sort of text keys with values moving along.
#pragma once

namespace ruva {

// Moves keys[i] down past the greater keys before it (ASCII case-blind);
// values (may be null) follow their keys.
void gSort(const char** keys, void** values, int i);
// Sorts the first n keys with gSort; stable.
void optimisedGSort(const char** keys, void** values, int n);

}  // namespace ruva

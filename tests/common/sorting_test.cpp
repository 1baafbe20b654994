#include "common/sorting.h"

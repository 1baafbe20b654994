#include "common/quoting.h"

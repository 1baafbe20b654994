#include "common/patterns.h"

#include "common/eucjp.h"

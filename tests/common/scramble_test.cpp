#include "common/scramble.h"

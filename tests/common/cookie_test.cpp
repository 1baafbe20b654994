#include "common/cookie.h"

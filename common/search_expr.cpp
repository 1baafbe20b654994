#include "common/search_expr.h"

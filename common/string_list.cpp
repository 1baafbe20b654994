#include "common/string_list.h"

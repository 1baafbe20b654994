#include "common/hit_snippet.h"

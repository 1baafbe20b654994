#include "common/content_type.h"

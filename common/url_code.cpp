#include "common/url_code.h"

#include "common/html_escape.h"

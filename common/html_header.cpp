#include "common/html_header.h"

#include "common/qox_doctype.h"

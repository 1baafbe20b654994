#include "common/ebcdic.h"

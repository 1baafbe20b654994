#include "common/meta_scan.h"

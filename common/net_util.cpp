#include "common/net_util.h"

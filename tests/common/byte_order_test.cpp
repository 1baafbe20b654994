#include "common/byte_order.h"

#include "common/class_ref_readers.h"

#include "common/mapped_file.h"

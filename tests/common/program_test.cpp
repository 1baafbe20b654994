#include "common/program.h"

#include "common/text_clean.h"

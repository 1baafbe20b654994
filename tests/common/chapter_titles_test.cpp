#include "common/chapter_titles.h"

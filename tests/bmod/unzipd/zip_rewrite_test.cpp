#include "bmod/unzipd/zip_rewrite.h"

#include "bmod/unzipd/zip_update.h"

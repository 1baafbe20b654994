#include "bmod/unzipd/zip_reader.h"

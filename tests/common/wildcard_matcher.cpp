#include "common/patterns.h"
int main() { return 0; }

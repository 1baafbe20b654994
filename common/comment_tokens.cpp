#include "common/comment_tokens.h"

#include "M3u.h"

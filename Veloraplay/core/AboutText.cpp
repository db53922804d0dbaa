#include "AboutText.h"

#include "WebLink.h"

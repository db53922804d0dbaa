#include "LibraryCheck.h"

#include "LibraryWindow.h"

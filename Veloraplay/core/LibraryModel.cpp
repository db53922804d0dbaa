#include "LibraryModel.h"

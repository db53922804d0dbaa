#include "Id3v1Tag.h"

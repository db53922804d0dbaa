#include "SkinArt.h"

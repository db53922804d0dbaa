#include "PlayerWindowModel.h"

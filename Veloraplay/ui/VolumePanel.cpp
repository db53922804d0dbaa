#include "VolumePanel.h"

#include "VolumePanelModel.h"

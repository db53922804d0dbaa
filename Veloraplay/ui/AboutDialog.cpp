#include "AboutDialog.h"

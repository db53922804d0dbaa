#include "InfoEditor.h"

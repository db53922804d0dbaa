#include "InfoEditorModel.h"

#include "Playlist.h"

// What a resource script of the Linux build sees of <windows.h>: only the style and id
// constants a dialog template may name, since the resource compiler reads #define lines alone.
#pragma once

#include "../include/window_styles.h"

// What a resource script of the Linux build sees of <windows.h>: only the style and id
// constants a dialog template may name and those of the version resource, since the resource
// compiler reads #define lines alone.
#pragma once

#include "../include/window_styles.h"

// The version resource's identifier and the values of its fixed part.
#define VS_VERSION_INFO 1
#define VS_FFI_FILEFLAGSMASK 0x0000003FL
#define VOS_NT_WINDOWS32 0x00040004L
#define VFT_APP 0x00000001L
#define VFT2_UNKNOWN 0x00000000L

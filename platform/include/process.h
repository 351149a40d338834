// The C runtime's thread start, as the Windows CRT declares it.
#pragma once

#include <windows.h>

extern "C" uintptr_t _beginthreadex(void* security, unsigned stack_size,
                                    unsigned(__stdcall* start_address)(void*), void* arglist,
                                    unsigned initflag, unsigned* thrdaddr);

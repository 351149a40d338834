// 8-bit strings: the code page of every "A" function (GetACP) and lstrlenA.
#include <windows.h>

#include <cstring>

extern "C" {

// The 8-bit code page of every "A" function of the layer is UTF-8.
UINT WINAPI GetACP(void) { return CP_UTF8; }

// Win32 answers 0 for a NULL string rather than faulting.
int WINAPI lstrlenA(LPCSTR lpString) {
    return lpString ? static_cast<int>(std::strlen(lpString)) : 0;
}

}  // extern "C"

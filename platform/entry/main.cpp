// Linux entry point: the program starts at WinMain, as it does on Windows.
#include <windows.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);

int main() {
    char empty[] = "";
    return WinMain(GetModuleHandleA(nullptr), nullptr, empty, 1);
}

// Modules: GetModuleHandleA and GetProcAddress, with which the pacing finds a call that older
// Windows lacks.
#include <gtest/gtest.h>
#include <windows.h>

namespace {

TEST(Timers, ResolutionThrottlingCallIsFoundAtRunTime) {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    ASSERT_NE(kernel32, (HMODULE)NULL);
    EXPECT_EQ(GetModuleHandleA("KERNEL32"), kernel32);
    EXPECT_NE(GetProcAddress(kernel32, "SetProcessInformation"), (FARPROC)NULL);
    for (const char* missing : {"SetProcessInformationEx", "setprocessinformation"}) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(GetProcAddress(kernel32, missing), (FARPROC)NULL) << missing;
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND) << missing;
    }
}

}  // namespace

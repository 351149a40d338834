// Named mutexes, within one process and across two, by which copies of the program claim files.
#include <gtest/gtest.h>
#include <process.h>
#include <windows.h>

#include <string>

#include "tests/common/beside.h"

namespace {

const DWORD kDeadlineMs = 5000;  // generous bound for waits that should end promptly

// Another thread's attempt to take the mutex that the test owns.
unsigned __stdcall TakeOwnedMutex(void* result) {
    HANDLE h = CreateMutexA(NULL, FALSE, "Local\\measure-kernel-test-owned");
    *static_cast<DWORD*>(result) = WaitForSingleObject(h, 0);
    CloseHandle(h);
    return 0;
}

// Names as Win32 takes or refuses them, and the rules of ownership within one process.
TEST(Mutexes, NamesAndOwnership) {
    const struct {
        const char* what;
        std::string name;
        DWORD error;  // 0: the mutex is made
    } rows[] = {
        // A backslash after a namespace, or without one, names a folder of objects that is not.
        {"backslash after Local\\", "Local\\a\\b", ERROR_PATH_NOT_FOUND},
        {"backslash without a namespace", "a\\b", ERROR_PATH_NOT_FOUND},
        {"backslash after Global\\", "Global\\x\\y", ERROR_PATH_NOT_FOUND},
        {"namespace alone", "Local\\", ERROR_INVALID_NAME},
        {"261 characters", "Local\\" + std::string(255, 'n'), ERROR_FILENAME_EXCED_RANGE},
        {"260 characters", "Local\\" + std::string(254, 'n'), 0},
        // What a path becomes as a name: separators turned into '/', a colon kept.
        {"a path's name", "Local\\measure-kernel-test:C:/DATA/TWO.DAT", 0},
        {"empty: no name", "", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        SetLastError(0xdeadbeef);
        HANDLE h = CreateMutexA(NULL, FALSE, row.name.c_str());
        EXPECT_EQ(row.error, GetLastError());
        EXPECT_EQ(row.error == 0, h != NULL);
        if (h) CloseHandle(h);
    }

    HANDLE h = CreateMutexA(NULL, FALSE, "Local\\measure-kernel-test-owned");
    ASSERT_NE((HANDLE)NULL, h);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReleaseMutex(h)) << "released a mutex no thread owns";
    EXPECT_EQ((DWORD)ERROR_NOT_OWNER, GetLastError());
    // The owner may take it again, and releases it as often as it took it.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 0));
    DWORD other = 0xdeadbeef;
    HANDLE thread = (HANDLE)_beginthreadex(NULL, 0, TakeOwnedMutex, &other, 0, NULL);
    ASSERT_NE((HANDLE)NULL, thread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, kDeadlineMs));
    CloseHandle(thread);
    EXPECT_EQ(WAIT_TIMEOUT, other) << "another thread took a mutex this one owns";
    EXPECT_TRUE(ReleaseMutex(h));
    EXPECT_TRUE(ReleaseMutex(h));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReleaseMutex(h));
    EXPECT_EQ((DWORD)ERROR_NOT_OWNER, GetLastError());
    CloseHandle(h);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(ReleaseMutex(NULL));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
}

// A mutex owned by another process: this one cannot take or release it, and sees its name
// exist. When the owner releases it, it is free; when the owner ends without releasing it (it
// returns, or it is killed), the next wait takes it abandoned, once. A name whose every handle
// has gone with its processes is a new mutex.
TEST(Mutexes, OwnedByAnotherProcess) {
    enum End { Release, Keep, Kill };
    const struct {
        const char* what;
        End end;
        bool keep_handle;  // this process holds a handle while the owner ends
        DWORD error;       // of a CreateMutexA after the owner's end, if no handle was kept
        DWORD wait;        // the first wait after the owner's end
    } rows[] = {
        {"released", Release, true, 0, WAIT_OBJECT_0},
        {"owner returned without releasing", Keep, true, 0, WAIT_ABANDONED},
        {"owner killed", Kill, true, 0, WAIT_ABANDONED},
        {"owner killed, no handle left", Kill, false, ERROR_SUCCESS, WAIT_OBJECT_0},
    };
    int index = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string name = "Local\\measure-kernel-test-held-" + std::to_string(index);
        const std::string go_name = "Local\\measure-kernel-test-go-" + std::to_string(index++);
        HANDLE go = CreateMutexA(NULL, TRUE, go_name.c_str());
        HANDLE h = CreateMutexA(NULL, FALSE, name.c_str());
        ASSERT_NE((HANDLE)NULL, go);
        ASSERT_NE((HANDLE)NULL, h);
        PROCESS_INFORMATION pi;
        const std::string args = name + " " + go_name + (row.end == Keep ? " keep" : " release");
        ASSERT_TRUE(beside::Start("mutex_holder", args, &pi)) << "error " << GetLastError();
        // Until the holder has the mutex, this process may take it first: then it lets it go.
        DWORD r = WAIT_OBJECT_0;
        for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(10)) {
            r = WaitForSingleObject(h, 0);
            if (r == WAIT_TIMEOUT) break;
            ReleaseMutex(h);
        }
        ASSERT_EQ(WAIT_TIMEOUT, r) << "the holder never took the mutex";
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(ReleaseMutex(h));
        EXPECT_EQ((DWORD)ERROR_NOT_OWNER, GetLastError());
        CloseHandle(h);
        SetLastError(0xdeadbeef);
        h = CreateMutexA(NULL, FALSE, name.c_str());
        EXPECT_EQ((DWORD)ERROR_ALREADY_EXISTS, GetLastError()) << "the holder's name is gone";
        if (!row.keep_handle) {
            CloseHandle(h);
            h = NULL;
        }

        if (row.end == Kill) {
            EXPECT_TRUE(TerminateProcess(pi.hProcess, 9));
            EXPECT_EQ(9u, beside::Finish(&pi));
        } else {
            EXPECT_TRUE(ReleaseMutex(go));
            EXPECT_EQ(0u, beside::Finish(&pi));
        }
        if (!h) {
            SetLastError(0xdeadbeef);
            h = CreateMutexA(NULL, FALSE, name.c_str());
            EXPECT_EQ(row.error, GetLastError());
        }
        EXPECT_EQ(row.wait, WaitForSingleObject(h, kDeadlineMs));
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 0)) << "abandonment is told once";
        EXPECT_TRUE(ReleaseMutex(h));
        EXPECT_TRUE(ReleaseMutex(h));
        CloseHandle(h);
        CloseHandle(go);
    }
}

}  // namespace

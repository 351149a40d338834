// The performance counter, by which the worker times its samples.
#include <gtest/gtest.h>
#include <windows.h>

namespace {

TEST(Clock, PerformanceCounterIsMonotonicInItsOwnUnits) {
    LARGE_INTEGER freq, prev, now;
    ASSERT_TRUE(QueryPerformanceFrequency(&freq));
    EXPECT_GT(freq.QuadPart, 0);
    ASSERT_TRUE(QueryPerformanceCounter(&prev));
    for (int i = 0; i < 10000; ++i) {
        ASSERT_TRUE(QueryPerformanceCounter(&now));
        ASSERT_GE(now.QuadPart, prev.QuadPart) << "at reading " << i;
        prev = now;
    }
    // A 200 ms wait measured with the counter and the frequency is about 200 ms: the two
    // agree on their unit. Wide bounds: only a wrong unit is off by orders of magnitude.
    HANDLE ev = CreateEventA(NULL, FALSE, FALSE, NULL);
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    WaitForSingleObject(ev, 200);
    QueryPerformanceCounter(&t1);
    CloseHandle(ev);
    double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
    EXPECT_GT(seconds, 0.15);
    EXPECT_LT(seconds, 20.0);
}

}  // namespace

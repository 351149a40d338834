// The floor of sample pacing on this machine: the least any program with a periodic timer and a
// second thread can do. One thread reads a periodic timerfd and wakes a second through an
// eventfd; the second reads the monotonic clock, as the worker stamps a sample. Prints the
// stamps in seconds, one a line, for bench/whole_program.py to read as it reads a data file's
// Time column.
//   pace_floor PERIOD_MS SAMPLES
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

int timer_fd = -1;
int wake_fd = -1;
long samples = 0;

void* TimerThread(void*) {
    for (long i = 0; i < samples; ++i) {
        uint64_t expirations;
        if (read(timer_fd, &expirations, sizeof expirations) != sizeof expirations) break;
        uint64_t one = 1;
        if (write(wake_fd, &one, sizeof one) != sizeof one) break;
    }
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    int period = argc == 3 ? atoi(argv[1]) : 0;
    samples = argc == 3 ? atol(argv[2]) : 0;
    if (period <= 0 || samples <= 0) {
        fprintf(stderr, "usage: pace_floor PERIOD_MS SAMPLES\n");
        return 2;
    }
    timer_fd = timerfd_create(CLOCK_MONOTONIC, 0);
    wake_fd = eventfd(0, 0);
    itimerspec every{};
    every.it_interval.tv_sec = period / 1000;
    every.it_interval.tv_nsec = (period % 1000) * 1000000L;
    every.it_value = every.it_interval;
    if (timer_fd < 0 || wake_fd < 0 || timerfd_settime(timer_fd, 0, &every, nullptr) != 0) {
        perror("pace_floor");
        return 1;
    }
    pthread_t timer;
    pthread_create(&timer, nullptr, TimerThread, nullptr);
    std::vector<double> stamps;
    stamps.reserve(samples);
    for (long i = 0; i < samples; ++i) {
        uint64_t n;
        if (read(wake_fd, &n, sizeof n) != sizeof n) break;
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        stamps.push_back(now.tv_sec + now.tv_nsec / 1e9);
    }
    pthread_join(timer, nullptr);
    for (double t : stamps) printf("%.9f\n", t);
    return 0;
}

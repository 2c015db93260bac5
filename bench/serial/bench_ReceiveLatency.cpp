// How long a received burst takes from the far end of the line to OnReceiveData on
// the main thread, and what receiving costs the main thread, over a pseudo-terminal.
// Usage: serial_receive_latency [bursts=1000] [ReadIntervalTimeout ms=2] [burst bytes=8]
#include "serial/Comm.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The far end: writes one burst each time the previous one has been delivered.
struct TFarEnd {
    std::mutex Lock;
    std::condition_variable Cv;
    int Requested = 0; // bursts asked for so far
    bool Quit = false;
    TClock::time_point LastByteAt;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int bursts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    const unsigned interval = argc > 2 ? unsigned(std::atoi(argv[2])) : 2;
    const std::size_t burstSize = argc > 3 ? std::size_t(std::max(1, std::atoi(argv[3]))) : 8;

    int master = -1, slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios raw{};
    tcgetattr(master, &raw);
    cfmakeraw(&raw);
    tcsetattr(master, TCSANOW, &raw);

    TComm comm;
    comm.SetCommName(name);
    comm.SetOutx_XonXoffFlow(false);
    comm.SetInx_XonXoffFlow(false);
    comm.SetReadIntervalTimeout(interval);

    TFarEnd far;
    std::vector<double> latencies;
    latencies.reserve(std::size_t(bursts));
    std::size_t chunks = 0, split = 0;
    std::size_t got = 0;
    double cpuStart = 0;

    comm.OnReceiveData = [&](TComm&, const char*, std::uint16_t length) {
        const auto now = TClock::now();
        ++chunks;
        got += length;
        if (got < burstSize) {
            ++split; // a burst that arrived in more than one chunk
            return;
        }
        got = 0;
        TClock::time_point sent;
        {
            std::lock_guard g(far.Lock);
            sent = far.LastByteAt;
        }
        latencies.push_back(std::chrono::duration<double, std::micro>(now - sent).count());
        if (int(latencies.size()) == bursts) {
            app.quit();
            return;
        }
        {
            std::lock_guard g(far.Lock);
            ++far.Requested;
        }
        far.Cv.notify_one();
    };

    try {
        comm.OpenPort();
    } catch (const ECommsError& e) {
        std::fprintf(stderr, "open: %s\n", e.what());
        return 1;
    }

    std::thread writer([&] {
        const std::string burst(burstSize, 'U');
        int done = 0;
        for (;;) {
            std::unique_lock lock(far.Lock);
            far.Cv.wait(lock, [&] { return far.Quit || far.Requested > done; });
            if (far.Quit) {
                return;
            }
            lock.unlock();
            // A short pause keeps bursts apart from the reader's view as well.
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            // Taken before the write: a preemption right after it must not shorten the figure.
            const auto at = TClock::now();
            [[maybe_unused]] const auto n = ::write(master, burst.data(), burst.size());
            lock.lock();
            far.LastByteAt = at;
            ++done;
        }
    });

    QTimer::singleShot(100, [&] {
        cpuStart = ThreadCpuSeconds();
        {
            std::lock_guard g(far.Lock);
            far.Requested = 1;
        }
        far.Cv.notify_one();
    });
    app.exec();
    const double cpu = ThreadCpuSeconds() - cpuStart;
    {
        std::lock_guard g(far.Lock);
        far.Quit = true;
    }
    far.Cv.notify_one();
    writer.join();
    comm.ClosePort();
    ::close(master);
    ::close(slave);

    std::sort(latencies.begin(), latencies.end());
    const auto pct = [&](double p) {
        return latencies[std::min(latencies.size() - 1, std::size_t(p * double(latencies.size())))];
    };
    std::printf("bursts=%d burst_bytes=%zu ReadIntervalTimeout=%u ms chunks=%zu split_bursts=%zu\n",
                bursts, burstSize, interval, chunks, split);
    std::printf("latency last byte -> OnReceiveData: min=%.0f us median=%.0f us p99=%.0f us "
                "max=%.0f us\n",
                latencies.front(), pct(0.5), pct(0.99), latencies.back());
    std::printf("latency beyond the interval: median=%.0f us p99=%.0f us\n",
                pct(0.5) - interval * 1000.0, pct(0.99) - interval * 1000.0);
    std::printf("main thread CPU: %.1f ms per 1000 chunks (%.3f s total)\n",
                cpu * 1000.0 / double(chunks) * 1000.0, cpu);
    return 0;
}

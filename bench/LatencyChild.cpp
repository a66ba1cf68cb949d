// Writes its own monotonic clock reading as carriage-return-terminated progress lines, so the
// reader can tell how long each line took to reach it.
#include <chrono>
#include <cstdio>
#include <thread>

int main()
{
    for (int i = 0; i < 200; ++i) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        std::printf("%lld\r",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
}

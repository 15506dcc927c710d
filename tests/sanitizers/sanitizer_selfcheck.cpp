// Commits the fault named on the command line, for a sanitizer build to report.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Out of line, so the compiler cannot see the fault and drop it.
[[gnu::noinline]] int readAt(const int* data, int index) {
    return data[index];
}

} // namespace

void* volatile g_lost = nullptr;

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    const char* fault = argv[1];
    volatile int sink = 0;
    if (std::strcmp(fault, "heap-overflow") == 0) {
        int* data = new int[4]{};
        sink = readAt(data, 4);
        delete[] data;
    } else if (std::strcmp(fault, "use-after-free") == 0) {
        int* data = new int[4]{};
        delete[] data;
        sink = readAt(data, 0);
    } else if (std::strcmp(fault, "signed-overflow") == 0) {
        volatile int big = INT_MAX;
        sink = big + 1;
    } else if (std::strcmp(fault, "leak") == 0) {
        g_lost = std::malloc(64);
        g_lost = nullptr;
    } else {
        return 2;
    }
    std::printf("no fault reported (%d)\n", sink);
    return 0;
}

// What a label from the configuration costs the panel client: time and memory of the first
// label after the file changed (the file is read and indexed) and of later ones (one stat and a
// lookup), for files of 1 KiB, 100 KiB and 1 MiB written as a facility writes them, and for a
// 50 MB file that is refused. Time is the median of repeated runs on this machine's clock;
// memory is the most heap bytes held at once during the label, beyond what was held before.
#include "alloc_counter.h"
#include "vorn_config.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Instances as a facility writes them, to about the given size.
std::string facilityOf(std::size_t size) {
    std::string text = "# The studio's instances.\n";
    for (int i = 0; text.size() < size; ++i)
        text += "\n[instances.Studio" + std::to_string(i) +
                "]\ndevice = " + std::to_string(10 + i % 900) +
                "\ncontact = " + std::to_string(1 + i % 64) + "\nidtext = Studio " +
                std::to_string(i) + " ON AIR\n";
    text.resize(size, '#');
    return text;
}

// The file's time stamp, set well in the past so that the reading may be kept.
void stampInThePast(const std::string& path, int secondsAgo) {
    const timespec now{std::time(nullptr) - secondsAgo, 0};
    const timespec times[2] = {now, now};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

struct Cost {
    double microseconds;
    std::size_t bytes;
};

Cost label(const char* entry) {
    AllocCounter counter;
    const auto start = Clock::now();
    const vorn_string text = vorn_config(entry).attr("idtext");
    const auto stop = Clock::now();
    return {std::chrono::duration<double, std::micro>(stop - start).count(), counter.peakBytes()};
}

Cost median(std::vector<Cost> runs) {
    std::sort(runs.begin(), runs.end(),
              [](const Cost& a, const Cost& b) { return a.microseconds < b.microseconds; });
    Cost m = runs[runs.size() / 2];
    for (const Cost& c : runs)
        m.bytes = std::max(m.bytes, c.bytes);
    return m;
}

} // namespace

int main() {
    const std::string path = "/tmp/vorn_bench_config." + std::to_string(getpid()) + ".ini";
    setenv("VORN_CONFIG", path.c_str(), 1);
    setenv("VORN_DEBUG_FD", std::to_string(::open("/dev/null", O_WRONLY)).c_str(), 1);
    std::printf("%-10s %14s %14s %14s %14s\n", "file", "first us", "first bytes", "later us",
                "later bytes");
    struct Case {
        const char* name;
        std::size_t size;
    };
    for (const Case& c : {Case{"1 KiB", 1024}, Case{"100 KiB", 100 * 1024},
                          Case{"1 MiB", 1024 * 1024}, Case{"50 MB", 50u << 20}}) {
        const bool refused = c.size > vorn_config::maxFileSize;
        {
            FILE* f = std::fopen(path.c_str(), "wb");
            const std::string text = facilityOf(refused ? 1024 : c.size);
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
            if (refused && truncate(path.c_str(), static_cast<off_t>(c.size)) != 0) return 2;
        }
        // The first label after each change: a time stamp of its own each time.
        std::vector<Cost> first, later;
        for (int i = 0; i < 21; ++i) {
            stampInThePast(path, 100 + i);
            first.push_back(label("instances.Studio3"));
        }
        for (int i = 0; i < 2001; ++i)
            later.push_back(label("instances.Studio3"));
        const Cost f = median(first), l = median(later);
        std::printf("%-10s %14.1f %14zu %14.2f %14zu\n", c.name, f.microseconds, f.bytes,
                    l.microseconds, l.bytes);
    }
    std::remove(path.c_str());
    return 0;
}

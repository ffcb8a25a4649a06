#include "child_usage.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace vanto {

long residentPeakKiB(int pid) {
    const std::string path = pid == 0 ? "/proc/self/status" : "/proc/" + std::to_string(pid) + "/status";
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) return -1;
    long kib = -1;
    char line[256];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) {
            kib = std::strtol(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(file);
    return kib;
}

ChildUsage runMeasured(const std::vector<std::string>& words, char** environment, const std::string& outputPath,
                       const std::string& errorPath) {
    ChildUsage usage;
    if (words.empty()) return usage;
    std::vector<std::string> copies = words;
    std::vector<char*> argv;
    for (std::string& w : copies) argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // What the wait reports as the child's peak is at least this.
    const long ownPeakKiB = residentPeakKiB(0);
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environment);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return usage;
    // The child's end wakes the loop at once (a pidfd is readable when it ends), so the wall time
    // does not wait for the next reading.
    const int ended = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    long seenKiB = -1;
    int status = 0;
    rusage resources{};
    constexpr int kReadingMs = 5;
    for (;;) {
        // Read before the wait: once the child has ended, /proc no longer tells its peak.
        seenKiB = std::max(seenKiB, residentPeakKiB(child));
        if (ended >= 0) {
            pollfd end{ended, POLLIN, 0};
            if (poll(&end, 1, kReadingMs) != 0) break;
        } else {
            const pid_t done = wait4(child, &status, WNOHANG, &resources);
            if (done == child) break;
            if (done < 0) return usage;
            std::this_thread::sleep_for(std::chrono::milliseconds(kReadingMs));
        }
    }
    if (ended >= 0) {
        close(ended);
        if (wait4(child, &status, 0, &resources) != child) return usage;
    }
    usage.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    usage.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    usage.cpuMs = (resources.ru_utime.tv_sec + resources.ru_stime.tv_sec) * 1e3 +
                  (resources.ru_utime.tv_usec + resources.ru_stime.tv_usec) / 1e3;
    const long reportedKiB = ownPeakKiB >= 0 && resources.ru_maxrss > ownPeakKiB ? resources.ru_maxrss : -1;
    const long peakKiB = std::max(seenKiB, reportedKiB);
    usage.peakMiB = peakKiB < 0 ? -1 : peakKiB / 1024.0;
    return usage;
}

}  // namespace vanto

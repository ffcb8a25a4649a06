#pragma once
#include <string>
#include <vector>

namespace vanto {

// A program run to its end and what it cost.
struct ChildUsage {
    int status = -1;      // exit status, 128 + signal when killed, -1 when it could not start
    double wallMs = 0;    // from start to end
    double cpuMs = 0;     // user and system time of the child and of the children it waited for
    double peakMiB = -1;  // the child's own largest resident set; -1 when it could not be seen
};

// Runs words[0] with the arguments words and the environment given (NAME=VALUE entries ending
// in a null pointer), its standard output and error written to the two files (created or
// truncated), and waits for it.
//
// The peak is the child's own. The kernel hands a child started by this process, at its exec,
// this process's largest resident set, so the usage the wait reports tells the child's peak only
// when it is larger than ours; the child's own peak (VmHWM) is therefore also read from /proc
// every 5 ms while it runs (each reading costs the machine some 30 µs), which misses at most what
// it adds in its last 5 ms.
ChildUsage runMeasured(const std::vector<std::string>& words, char** environment, const std::string& outputPath,
                       const std::string& errorPath);

// The largest resident set of the running process pid (0: this process) in KiB, from
// /proc/<pid>/status; -1 when it cannot be read (no such process, or one that has ended).
long residentPeakKiB(int pid);

}  // namespace vanto

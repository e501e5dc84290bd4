// The soak's view of processes: its own figures (resident memory, descriptors, threads) and the
// stand-in camera processes it kills and starts again.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace halvex::bench {

// What the soak process holds at one moment.
struct ProcessFigures {
    long rssKiB = 0;
    long fds = 0;
    long threads = 0;
};

ProcessFigures processFigures();

// A fresh folder for the stand-ins' messages; empty when none can be made.
std::string scratchFolder();
// Removes the folder and what is in it.
void removeFolder(const std::string& folder);

// Enters a private network namespace (before any thread starts); false with the reason.
bool enterPrivateNetwork(std::string& why);

// One hxsim process, its messages in a file of its own, which says when its camera runs.
class StandInProcess {
public:
    StandInProcess(std::string program, std::vector<std::string> arguments, std::string logPath);
    ~StandInProcess();
    StandInProcess(const StandInProcess&) = delete;
    StandInProcess& operator=(const StandInProcess&) = delete;

    // Starts the process and waits until its camera runs; false (with its messages on stderr)
    // when it ended or did not say so before the deadline.
    bool start(std::chrono::steady_clock::time_point deadline);
    // Kills it without warning (SIGKILL), as a power cut would, and reaps it.
    void kill();

private:
    std::string messages() const;

    std::string program_;
    std::vector<std::string> arguments_;
    std::string logPath_;
    int pid_ = -1;
};

} // namespace halvex::bench

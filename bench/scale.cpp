// Scale benchmark: one host holding many stand-in cameras open (hxsim --cameras N, a child process
// in this benchmark's private network namespace). For each count, in a fresh process of its own
// (the library starts once per process): the time to add every camera by address, a settings call
// to every camera, the library's threads and resident memory, and the process's CPU while idle.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <hx/hx.h>

#include "private_network.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kFirstCamera = 0x7F000101; // 127.0.1.1, then consecutive
constexpr auto kHxsimStartLimit = std::chrono::seconds(60);
constexpr auto kIdleWindow = std::chrono::seconds(3);
constexpr auto kRunLimit = std::chrono::seconds(300);

// What one count measured; written by the measuring child through a pipe.
struct Row {
    unsigned cameras = 0;
    unsigned added = 0;
    unsigned reachable = 0;
    double addSeconds = 0;
    double settingsSeconds = 0;
    unsigned threadsBefore = 0; // the library's process-wide threads, before any camera
    unsigned threads = 0;       // with every camera open
    double rssBeforeMb = 0;
    double rssMb = 0;
    double idleCpuPercent = 0;
    bool ok = false;
};

std::string dotted(uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

double seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// Every thread but the main one is the library's: the benchmark starts none.
unsigned libraryThreads()
{
    unsigned count = 0;
    DIR* tasks = opendir("/proc/self/task");
    while (dirent* entry = tasks != nullptr ? readdir(tasks) : nullptr) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    if (tasks != nullptr)
        closedir(tasks);
    return count > 0 ? count - 1 : 0;
}

double residentMb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
    }
    return 0;
}

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// The stand-in cameras: hxsim with its messages in a file, which says when they all run.
class Hxsim {
public:
    explicit Hxsim(unsigned cameras)
    {
        char path[] = "/tmp/hx-bench-scale-XXXXXX";
        const int log = mkstemp(path);
        if (log < 0)
            return;
        logPath_ = path;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(log, STDERR_FILENO);
            dup2(log, STDOUT_FILENO);
            const std::string count = std::to_string(cameras);
            const std::string first = dotted(kFirstCamera);
            execl(HXSIM_PATH, "hxsim", "--cameras", count.c_str(), "--address", first.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(log);
    }
    ~Hxsim()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (!logPath_.empty())
            unlink(logPath_.c_str());
    }

    // Polls hxsim's messages (a benchmark may sleep) until its cameras run, it failed, or the limit.
    bool waitRunning()
    {
        const auto deadline = Clock::now() + kHxsimStartLimit;
        while (pid_ > 0 && Clock::now() < deadline) {
            const std::string text = messages();
            if (text.find("running;") != std::string::npos)
                return true;
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        std::fprintf(stderr, "scale: hxsim did not start its cameras:\n%s\n", messages().c_str());
        return false;
    }

private:
    std::string messages() const
    {
        std::ifstream file(logPath_);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    pid_t pid_ = -1;
    std::string logPath_;
};

// Runs in a fresh process: one host, `cameras` stand-in cameras.
Row measure(unsigned cameras)
{
    Row row;
    row.cameras = cameras;
    Hxsim hxsim(cameras);
    if (!hxsim.waitRunning())
        return row;
    HX_CLIENT_HANDLE client = 0;
    if (HX_register(&client, nullptr, nullptr) != HX_STATUS_OK) {
        std::fprintf(stderr, "scale: could not register a client\n");
        return row;
    }
    row.threadsBefore = libraryThreads();
    row.rssBeforeMb = residentMb();

    std::vector<HX_CAMERA_HANDLE> handles;
    const auto addStart = Clock::now();
    for (unsigned i = 0; i < cameras; ++i) {
        HX_CAMERA_HANDLE handle = 0;
        if (HX_get_handle_by_name(client, &handle, dotted(kFirstCamera + i).c_str()) == HX_STATUS_OK)
            handles.push_back(handle);
    }
    row.addSeconds = seconds(Clock::now() - addStart);
    row.added = static_cast<unsigned>(handles.size());

    // The first settings call opens each camera's control channel and reads its capture settings.
    const auto settingsStart = Clock::now();
    for (HX_CAMERA_HANDLE handle : handles) {
        HX_CAPTURE_SETTINGS capture;
        HX_capture_settings_init(&capture, sizeof(capture));
        if (HX_setup_capture_syn(client, handle, &capture, &capture) == HX_STATUS_OK &&
            (capture.flags & HX_FLAG_ERR) == 0)
            ++row.reachable;
    }
    row.settingsSeconds = seconds(Clock::now() - settingsStart);
    row.threads = libraryThreads();
    row.rssMb = residentMb();

    const double cpuStart = processCpuSeconds();
    const auto idleStart = Clock::now();
    std::this_thread::sleep_for(kIdleWindow);
    row.idleCpuPercent = 100.0 * (processCpuSeconds() - cpuStart) / seconds(Clock::now() - idleStart);

    HX_unregister(client);
    HX_shutdown();
    row.ok = true;
    return row;
}

// Measures in a child process, which hands its row back through a pipe; bounded by kRunLimit.
std::optional<Row> measureApart(unsigned cameras)
{
    int channel[2];
    if (pipe(channel) != 0)
        return std::nullopt;
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        const Row row = measure(cameras);
        const bool written = write(channel[1], &row, sizeof(row)) == static_cast<ssize_t>(sizeof(row));
        _exit(written ? 0 : 1);
    }
    close(channel[1]);
    Row row;
    pollfd ready{channel[0], POLLIN, 0};
    const bool answered = child > 0 &&
                          poll(&ready, 1, static_cast<int>(std::chrono::milliseconds(kRunLimit).count())) == 1 &&
                          read(channel[0], &row, sizeof(row)) == static_cast<ssize_t>(sizeof(row));
    close(channel[0]);
    if (child > 0) {
        if (!answered)
            kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    if (!answered)
        return std::nullopt;
    return row;
}

// Each camera holds a few sockets and event descriptors on either side.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool verdict(const char* what, double value, double target, bool atMost, const char* unit)
{
    const bool met = atMost ? value <= target : value >= target;
    std::printf("  %-46s %9.2f%s  target %s %.0f%s: %s\n", what, value, unit, atMost ? "<=" : ">=", target, unit,
                met ? "met" : "MISSED");
    return met;
}

} // namespace

// scale [--quick]: 10, 100 and 250 cameras; --quick runs 12 (beyond the ten fixed port sets).
int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    std::string why;
    if (!hx_test::enterPrivateNetwork(why)) {
        std::fprintf(stderr, "refusing to run: the scale benchmark needs a private network namespace (%s)\n",
                     why.c_str());
        return 2;
    }
    raiseDescriptorLimit();
    const std::vector<unsigned> counts = quick ? std::vector<unsigned>{12} : std::vector<unsigned>{10, 100, 250};
    std::printf("scale benchmark: one host, hxsim --cameras N; idle CPU over %lld s\n\n",
                static_cast<long long>(kIdleWindow.count()));
    std::printf("%8s %9s %9s %12s %12s %10s %11s %12s %11s\n", "cameras", "added", "reachable", "add all (s)",
                "settings (s)", "threads", "per camera", "memory (MB)", "idle CPU %");
    bool met = true;
    for (unsigned cameras : counts) {
        const std::optional<Row> row = measureApart(cameras);
        if (!row || !row->ok) {
            std::printf("%8u  (run failed; see above)\n", cameras);
            met = false;
            continue;
        }
        const double perCamera = double(row->threads - row->threadsBefore) / cameras;
        std::printf("%8u %9u %9u %12.3f %12.3f %10u %11.2f %12.1f %11.2f\n", cameras, row->added, row->reachable,
                    row->addSeconds, row->settingsSeconds, row->threads, perCamera, row->rssMb, row->idleCpuPercent);
        std::printf("%8s (before the cameras: %u library threads, %.1f MB; %.1f KB more per camera)\n", "",
                    row->threadsBefore, row->rssBeforeMb, 1024.0 * (row->rssMb - row->rssBeforeMb) / cameras);
        char label[64];
        std::snprintf(label, sizeof(label), "%u cameras: reachable", cameras);
        met &= verdict(label, row->reachable, cameras, false, "");
        std::snprintf(label, sizeof(label), "%u cameras: library threads per camera", cameras);
        met &= verdict(label, perCamera, 3, true, "");
        if (cameras == 100) {
            met &= verdict("100 cameras: idle CPU (% of a core)", row->idleCpuPercent, 1, true, "");
            met &= verdict("100 cameras: adding them all (s)", row->addSeconds, 1, true, "");
        }
    }
    std::printf("%s\n", met ? "all targets met" : "some targets missed");
    return met ? 0 : 1;
}

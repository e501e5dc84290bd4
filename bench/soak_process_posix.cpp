// The soak's process figures from /proc, and the stand-in processes it starts and kills.
#include "soak_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "private_network.h"

namespace halvex::bench {
namespace {

long entries(const char* folder)
{
    long count = 0;
    DIR* dir = opendir(folder);
    while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    if (dir != nullptr)
        closedir(dir);
    return count;
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return 0;
}

} // namespace

ProcessFigures processFigures()
{
    ProcessFigures figures;
    figures.rssKiB = residentKiB();
    // The listing itself holds one descriptor open.
    figures.fds = entries("/proc/self/fd") - 1;
    figures.threads = entries("/proc/self/task");
    return figures;
}

std::string scratchFolder()
{
    char path[] = "/tmp/hx-soak-XXXXXX";
    return mkdtemp(path) != nullptr ? std::string(path) : std::string();
}

void removeFolder(const std::string& folder)
{
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

bool enterPrivateNetwork(std::string& why)
{
    return hx_test::enterPrivateNetwork(why);
}

StandInProcess::StandInProcess(std::string program, std::vector<std::string> arguments, std::string logPath)
    : program_(std::move(program)), arguments_(std::move(arguments)), logPath_(std::move(logPath))
{
}

StandInProcess::~StandInProcess()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

bool StandInProcess::start(std::chrono::steady_clock::time_point deadline)
{
    const int log = open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0) {
        std::fprintf(stderr, "soak: cannot write %s\n", logPath_.c_str());
        return false;
    }
    std::vector<char*> argv{program_.data()};
    for (std::string& argument : arguments_)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        // A soak that is killed takes its cameras with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        execv(program_.c_str(), argv.data());
        _exit(127);
    }
    close(log);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
        if (messages().find("running;") != std::string::npos)
            return true;
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        // hxsim says it runs only in its log; there is nothing to wait on but the file.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::fprintf(stderr, "soak: %s did not start its camera:\n%s\n", program_.c_str(), messages().c_str());
    return false;
}

void StandInProcess::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string StandInProcess::messages() const
{
    std::ifstream file(logPath_);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

} // namespace halvex::bench

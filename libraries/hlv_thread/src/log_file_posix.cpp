// The log's operating-system half: file descriptors and the thread-safe local time.
#include "log_file.h"

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace halvex::thread {

int openLogFile(const char* path)
{
    return ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
}

void writeLogFile(int descriptor, const std::string& text)
{
    const ssize_t written = ::write(descriptor, text.data(), text.size());
    static_cast<void>(written);
}

// Closes through a C stream, as the file was opened for C-stream style appending.
void closeLogFile(int descriptor)
{
    if (std::FILE* stream = ::fdopen(descriptor, "a")) {
        std::fflush(stream);
        std::fclose(stream);
    } else {
        ::close(descriptor);
    }
}

std::tm localTime(std::time_t seconds)
{
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return local;
}

} // namespace halvex::thread

// The log's operating-system half on Windows: the C run time's descriptor calls (opened in binary
// mode, so lines keep their '\n') and the thread-safe local time.
#include "log_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace halvex::thread {

int openLogFile(const char* path)
{
    return ::_open(path, _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

void writeLogFile(int descriptor, const std::string& text)
{
    const int written = ::_write(descriptor, text.data(), static_cast<unsigned>(text.size()));
    static_cast<void>(written);
}

void closeLogFile(int descriptor)
{
    ::_close(descriptor);
}

std::tm localTime(std::time_t seconds)
{
    std::tm local{};
    ::localtime_s(&local, &seconds);
    return local;
}

} // namespace halvex::thread

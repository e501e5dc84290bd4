// Linked into every test program of the Windows build: its output is unbuffered, so a test that
// ends the process abruptly (a crash under Wine) still leaves what it printed for ctest to show.
// There, standard output into a pipe is fully buffered and lost with the process.
#include <cstdio>

namespace {

[[maybe_unused]] const bool unbuffered = [] {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    return true;
}();

} // namespace

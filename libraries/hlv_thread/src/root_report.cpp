// Internal: reports an exception that reached the root of a framework thread on the raw sink.
#include "root_report.h"

#include <exception>

#include "hlv_thread/log.h"
#include "hlv_thread/note.h"

namespace halvex::thread {

namespace {

void reportUnknown(const char* root)
{
    logRaw(LOG_PRIORITY_ERROR, fmtToString("Unhandled exception of unknown type reached root of %s", root));
}

} // namespace

void reportRootException(const char* root, LibraryExceptions library)
{
    try {
        throw;
    } catch (Exception& error) {
        if (library == LibraryExceptions::Unrecognised) {
            reportUnknown(root);
            return;
        }
        error.add("\n  Unhandled Halvex exception reached root of %s", root);
        logRaw(LOG_PRIORITY_ERROR, fmtToString("\n  %s", error.str().c_str()));
    } catch (const std::exception& error) {
        logRaw(LOG_PRIORITY_ERROR, error.what());
        logRaw(LOG_PRIORITY_ERROR, fmtToString("  Unhandled C++ exception reached root of %s", root));
    } catch (...) {
        reportUnknown(root);
    }
}

} // namespace halvex::thread

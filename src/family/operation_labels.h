// Operation labels: the names the entry lines of the register-based families' operations carry
// in the log. Log readers and support scripts know these lines by these names, so they stay as
// they are whichever part now runs the operation; every other line names its own class.
#pragma once

namespace halvex::family::labels {

inline constexpr char CONSTRUCTED[] = "TarrowOperations::TarrowOperations";
inline constexpr char DESTROYED[] = "TarrowOperations::~TarrowOperations";
inline constexpr char SET_CAPTURE[] = "TarrowOperations::setCaptureSettings";
inline constexpr char SET_IO_ENTRY[] = "TarrowOperations::set_external_io_settings() ENTRY";
inline constexpr char SEND_COMMAND[] = "TarrowOperations::sendCommand";
inline constexpr char SUBSCRIPTION[] = "TarrowOperations::handleSubscription";

} // namespace halvex::family::labels

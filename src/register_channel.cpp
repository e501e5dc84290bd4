// Register channel: the defaults shared by every implementation.
#include "register_channel.h"

RegisterChannel::~RegisterChannel() = default;

bool RegisterChannel::faulted() const { return false; }

void RegisterChannel::release() {}

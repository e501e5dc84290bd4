// The Windows system headers the Windows halves need, in the order Winsock requires, without the
// min/max macros that would break the standard library. Included only by *_windows.cpp files.
#pragma once

#if !defined(_WIN32)
#  error "platform/win_sockets.h is for the Windows halves only"
#endif

#ifndef WIN32_LEAN_AND_MEAN
#  define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#  define NOMINMAX
#endif

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

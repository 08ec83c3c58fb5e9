// The platform implementation this build's worker is compiled against: the Win32 one in the
// engine (the freestanding Windows configuration), the host one everywhere else (tests, the
// corruption campaign, benchmarks). One name for both, so the worker's code reads the same in
// every build and calls the implementation directly (see the contract in platform/platform.h).
#pragma once

#include "platform/platform.h"

#if MARLOWICK_FREESTANDING
#include "platform/win32/platform_win32.h"
namespace mw {
using EnginePlatform = Win32Platform;
}
#else
#include "platform/host/host_platform.h"
namespace mw {
using EnginePlatform = HostPlatform;
}
#endif

static_assert(mw::Platform<mw::EnginePlatform>, "the platform implementation misses a call");

// The platform class this build's SystemPlatform() is made from, as
// BuildPlatform, for code that extends the real platform (tests that fail a
// step on cue around the real calls).
#ifndef TASKCLIENT_PLATFORM_BUILD_PLATFORM_H
#define TASKCLIENT_PLATFORM_BUILD_PLATFORM_H

#if defined(TASKCLIENT_TLS_BEARSSL)
#include "platform/bearssl/bearssl_platform.h"
namespace taskclient {
typedef BearSslPlatform BuildPlatform;
}
#elif defined(_WIN32)
#include "platform/wince/wince_platform.h"
namespace taskclient {
typedef WinCePlatform BuildPlatform;
}
#else
#include "platform/posix/posix_platform.h"
namespace taskclient {
typedef PosixPlatform BuildPlatform;
}
#endif

#endif

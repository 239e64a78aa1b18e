#pragma once

// Which sanitizer instruments this build of the tests. The sweeps that only repeat a path
// the release build already checks are cut to what the sanitizer adds (see tests/README.md).
namespace sanitizer_build {

#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreads = true;
#else
inline constexpr bool kThreads = false;
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kAny = true;
#else
inline constexpr bool kAny = false;
#endif

}  // namespace sanitizer_build

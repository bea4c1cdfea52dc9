#pragma once

// KAV_TARGET_CLONES("avx2", "default") builds a function once per target and
// picks one at load time through an ifunc. ThreadSanitizer's runtime is not
// set up yet when the dynamic loader runs that resolver, which then crashes
// before main, so those builds keep the default code only.
#if defined(__SANITIZE_THREAD__) || defined(KAV_NO_TARGET_CLONES)
#define KAV_TARGET_CLONES(...)
#else
#define KAV_TARGET_CLONES(...) [[gnu::target_clones(__VA_ARGS__)]]
#endif

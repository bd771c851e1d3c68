// What the sanitizer builds of the engine process are told to ignore: leaks
// inside third-party libraries that the engine cannot free. Only the
// executables that run FFmpeg's codecs carry this (the engine, and norv for
// its quality probe's measure and a film's parts); nothing of our own code
// is named. (In a build without a sanitizer nobody asks for it.)
//
// - libx265 keeps copies of some of its parameters (the statistics file's
//   name among them) and a table of its own that x265_encoder_close never
//   frees.
// - FFmpeg's libx265 wrapper gives each frame it sends to x265 a small
//   allocation that it frees when the frame's packet comes out; frames
//   still inside the encoder when a cancelled job closes it keep theirs.
// GCC says which sanitizer it builds for with __SANITIZE_*__, clang with
// __has_feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NORV_ASAN 1
#endif
#if __has_feature(thread_sanitizer)
#define NORV_TSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define NORV_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#define NORV_TSAN 1
#endif

#if defined(NORV_ASAN)
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n"
           "leak:avcodec_send_frame\n";
}
#endif

#if defined(NORV_ASAN)
// The leaks above are made inside libraries built without frame pointers:
// only the slow unwinder sees the frames their suppressions name.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0:malloc_context_size=16";
}
#endif

#if defined(NORV_TSAN)
// FFmpeg and the codec libraries are not built for the sanitizer: their
// threads hand frames and buffers to each other with atomics the sanitizer
// does not see, so what they allocate on one thread and free on another
// looks like a race. Calls they make into the runtime (allocation, locks)
// are left out; every access of the engine's own code is still checked.
// The engine always ends with a thread besides the main one (the one that
// waits for a terminating signal): the runtime's second of waiting at the
// end for such threads is not wanted, as the engine ends when it must.
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1:atexit_sleep_ms=0";
}
#endif

// The engine tests run transcodes in this process too: the thread
// sanitizer is told what the engine's own executable tells it (see
// engine/sanitizer_suppressions.cpp), that FFmpeg's libraries are not built
// for it.
#if defined(__SANITIZE_THREAD__)
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
#endif

// Linked into every test binary (not into the support library: the runtime
// looks the function up by name, and a library member nothing refers to would
// never be linked). ThreadSanitizer does not see the synchronisation inside
// the PulseAudio client library (not built with it), which the paced tests
// load through alsa-lib's pulse plugin: its internal mutex set-up is reported
// as a race. Only frames of that library are suppressed; our own code stays
// checked.

#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions();

extern "C" const char* __tsan_default_suppressions() {
  return "race:libpulsecommon\n"
         "race:libpulse.so\n"
         "race:libasound_module_pcm_pulse.so\n";
}
#endif

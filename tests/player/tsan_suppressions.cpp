// The paced tests reach the test sound server through alsa-lib's pulse
// plugin; ThreadSanitizer does not see the synchronisation inside the
// PulseAudio client library (not built with it). Only that library's frames
// are suppressed; the player's own code stays checked.

#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
  return "race:libpulsecommon\n"
         "race:libpulse.so\n"
         "race:libasound_module_pcm_pulse.so\n";
}
#endif

#pragma once
// Enumerations and records shared by the main window, the playback controller,
// the settings and the system optimiser.

// Which output plays: the shared (ALSA) output or the direct-driver output.
enum TAudioEngine { aeDSound, aeASIO };

// The optimisation switches. Copied as a whole: the settings dialog builds a
// new record and assigns it. KernelLockMode is never set by the program; it is
// carried through the settings unchanged.
struct TOptimizeOption {
  bool RealTimeOptimize = false;
  bool SuppressOtherProcesses = false;
  bool AudioServiceOptimize = false;
  bool MutiCoreOptimize = false;
  bool Windows7Optimize = false;
  bool KernelLockMode = false;

  bool operator==(const TOptimizeOption&) const = default;
};

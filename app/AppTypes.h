#pragma once
// Enumerations and records shared by the main window, the playback controller,
// the playlist, the settings dialog and the system optimiser.

#include "app/logic/FileKinds.h"

// Which output plays: the shared (ALSA) output or the direct-driver output.
enum TAudioEngine { aeDSound, aeASIO };

// Kind of a playlist file, decided by its extension: declared beside the
// helpers that decide it, which are usable without the window.
using lirvo::aftAPE;
using lirvo::aftCUE;
using lirvo::aftFLAC;
using lirvo::aftMP3;
using lirvo::aftUnknown;
using lirvo::aftWAV;
using lirvo::aftWMA;
using lirvo::TAudioFileType;

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

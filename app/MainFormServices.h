#pragma once
// What the main window reaches outside itself: where its files are, the
// processes the optimiser may touch, the programs and system requests the
// system commands start, the session script, the sound devices and the
// drives of the file browser. Current() is the running machine; tests build
// one of their own, so a window under test never writes beside the test
// binary, never tunes a process it did not start, never reboots the machine
// and never touches the real ~/.xsession.

#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/logic/playback/AudioEnvironment.h"
#include "app/logic/settings/AppPaths.h"
#include "app/logic/system/CommandRunner.h"
#include "app/logic/system/ProcUtils.h"
#include "app/logic/system/ShellCommands.h"
#include "app/logic/system/SystemOptimizer.h"
#include "audio/outputs/DSoundLayer.h"

struct TMainFormServices {
  // Where lirvo.ini and lirvo.xpl live.
  lirvo::TAppPathEnvironment Paths;
  // The processes OptimizeSystem may change besides the player's own, and
  // the player's own process with the real-time and timer steps. Left
  // empty, no other process is listed (and the default environment has no
  // own process).
  std::shared_ptr<lirvo::IProcessSource> Processes;
  lirvo::TOptimizerEnvironment OptimizerEnv;
  // Processors the settings see ("MutiCore" needs 4 or more).
  int ProcessorCount = 1;
  // Everything started outside the process (terminal, mixer, reboot, a new
  // instance of the player). Left empty, every request is refused.
  std::shared_ptr<lirvo::ICommandRunner> Runner;
  // The session script and its saved copy, and the player's own path (the
  // session check and "重启Lirvo").
  lirvo::TShellFiles ShellFiles;
  std::string PlayerPath;
  // Ends this instance at once, without the window's closing work.
  std::function<void()> Quit;
  // The shared output's devices; nullopt: the system's.
  std::optional<std::vector<lirvo::TDsDeviceEntry>> DSoundDevices;
  // The direct drivers and the decoders' libraries; default: the system's.
  lirvo::TAudioEnvironment Audio;
  // The file browser's drives; nullopt: the system's.
  std::optional<QStringList> DriveRoots;

  // The running machine: the real process list, command runner, session
  // script under $HOME, this executable, QCoreApplication::exit as Quit.
  static TMainFormServices Current();
};

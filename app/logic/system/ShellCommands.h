#pragma once
// The player as the program of the X session ("Lirvo Audio OS"), and the
// system commands it offers when it is: terminal, mixer, reboot, power off,
// restarting itself.
//
// The session program is the script ~/.xsession; the player keeps a copy of
// the script it replaced in ~/.xsession.lirvo-save. Registering writes
//   exec "<player path>"
// quoted so that any path survives the shell; restoring puts the saved copy
// back, or `exec x-session-manager` when there is none.
//
// Every program started and every request to the system goes through an
// ICommandRunner. Everything here runs on the UI thread.

#include <functional>
#include <string>

#include "app/logic/system/CommandRunner.h"

namespace lirvo {

// The session script and the saved copy of the one it replaced.
struct TShellFiles {
  std::string Shell;      // ~/.xsession
  std::string SaveShell;  // ~/.xsession.lirvo-save
  bool Valid() const { return !Shell.empty() && !SaveShell.empty(); }
};

// The files under $HOME; not Valid when HOME is unset or empty.
TShellFiles CurrentShellFiles();

// The running executable's full path (/proc/self/exe); empty when unknown.
std::string CurrentExecutablePath();

// PlayerPath inside double quotes, with the characters the shell treats
// specially there ($ ` " \) escaped.
std::string QuoteForShell(const std::string& PlayerPath);

// Whether the session script contains the player's path (letter case
// ignored), as written or in the quoted form registering writes. False when
// the script cannot be read or the path is empty.
bool IsShell(const std::string& PlayerPath, const TShellFiles& Files = CurrentShellFiles());

// Makes the player the session program. The script found is copied to the
// saved copy only when there is no saved copy yet, so the first one survives
// repeated registrations (a missing script is saved as an empty copy). False,
// with nothing written, when the files are not valid, the present script
// cannot be read or a write fails.
bool RegisterShell(const std::string& PlayerPath, const TShellFiles& Files = CurrentShellFiles());

// Puts the saved script back (the saved copy stays). An empty saved copy
// means there was no script: the session script is removed, so the login
// manager's own session comes back. Without a saved copy the script becomes
// `exec x-session-manager`. False when nothing could be written.
bool RestoreShell(const TShellFiles& Files = CurrentShellFiles());

// The system commands; each returns whether the runner accepted it.
// A terminal (x-terminal-emulator).
bool RunTerminal(ICommandRunner& Runner);
// The mixer: pavucontrol when installed, else alsamixer in a terminal.
bool RunMixer(ICommandRunner& Runner);
// Asks systemd-logind to reboot (Reboot) or power off; false when refused.
bool ShutdownSystem(ICommandRunner& Runner, bool Reboot);
// Starts another instance of the player, without arguments.
bool StartPlayerInstance(ICommandRunner& Runner, const std::string& PlayerPath);

// What the window does before the machine or the player goes away.
struct TSaveSteps {
  std::function<void()> StopAudioOut;
  std::function<void()> SaveSettings;
  std::function<void()> SavePlaylist;
};

// Stop, save settings, save the playlist, then ShutdownSystem. Returns
// whether the request was accepted; when refused the player goes on with
// playback stopped and its files saved. An exception from a step propagates
// and the machine is not touched.
bool SaveAndShutdown(const TSaveSteps& Steps, ICommandRunner& Runner, bool Reboot);

// Stop, save settings, save the playlist, start a new instance, then Quit
// (which ends this one without its closing work, so the new instance reads
// exactly what was saved). When the new instance cannot be started Quit is
// not called and false returned: the player stays rather than leave the
// session without one.
bool SaveAndRestart(const TSaveSteps& Steps, ICommandRunner& Runner, const std::string& PlayerPath,
                    const std::function<void()>& Quit);

}  // namespace lirvo

#pragma once
// Starting other programs: the terminal, the mixer, a new instance of the
// player, and the request to systemd-logind that reboots or powers off the
// machine. Everything that leaves the process goes through ICommandRunner so
// tests can record it instead.

#include <string>
#include <vector>

namespace lirvo {

class ICommandRunner {
 public:
  virtual ~ICommandRunner() = default;
  // Starts Program (a name looked up on PATH, or a path) with Args and does
  // not wait for it. False when it could not be started.
  virtual bool StartDetached(const std::string& Program, const std::vector<std::string>& Args) = 0;
  // Runs Program with Args to its end. True when it exited with status 0.
  virtual bool Run(const std::string& Program, const std::vector<std::string>& Args) = 0;
  // Whether Program can be found (on PATH, or as an executable path).
  virtual bool IsInstalled(const std::string& Program) = 0;
};

// The real runner. Programs started detached belong to a session of their
// own (they outlive the player and leave no zombie behind) and begin at
// normal priority, whatever the player's own tuning is.
class TSystemCommandRunner final : public ICommandRunner {
 public:
  bool StartDetached(const std::string& Program, const std::vector<std::string>& Args) override;
  bool Run(const std::string& Program, const std::vector<std::string>& Args) override;
  bool IsInstalled(const std::string& Program) override;
};

// The full path of Program: itself when it holds a '/', else the first
// executable file of that name on PATH; empty when there is none.
std::string FindExecutable(const std::string& Program);

}  // namespace lirvo

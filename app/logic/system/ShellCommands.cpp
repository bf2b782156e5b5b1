#include "app/logic/system/ShellCommands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "app/logic/common/AtomicFile.h"

namespace lirvo {

namespace {

// A session script is a few lines; anything beyond this is not one and is
// neither read whole nor copied.
constexpr size_t kMaxScriptSize = 1 << 20;

constexpr char kScriptHeader[] = "#!/bin/sh\n";

enum class TReadResult { Ok, Missing, Failed };

struct TScript {
  std::string Text;
  mode_t Mode = 0755;
};

TReadResult ReadScript(const std::string& Path, TScript& Script) {
  int fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? TReadResult::Missing : TReadResult::Failed;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<size_t>(st.st_size) > kMaxScriptSize) {
    close(fd);
    return TReadResult::Failed;
  }
  Script.Mode = st.st_mode & 07777;
  Script.Text.clear();
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || Script.Text.size() + static_cast<size_t>(n) > kMaxScriptSize) {
      close(fd);
      return TReadResult::Failed;
    }
    if (n == 0) break;
    Script.Text.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return TReadResult::Ok;
}

// A crash or a full disk never leaves a half-written session script. The
// script is written where it stands: a link there is replaced, not followed,
// and no folder is made for it.
bool WriteScript(const std::string& Path, const std::string& Text, mode_t Mode) {
  TAtomicWriteOptions options;
  options.Mode = Mode;
  options.CreateFolder = false;
  options.FollowLink = false;
  return static_cast<bool>(WriteFileAtomically(Path, Text, options));
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : char(c);
  });
  return s;
}

bool ContainsNoCase(const std::string& Text, const std::string& Part) {
  return Lower(Text).find(Lower(Part)) != std::string::npos;
}

}  // namespace

TShellFiles CurrentShellFiles() {
  const char* home = getenv("HOME");
  if (!home || !*home) return {};
  std::string dir = home;
  if (dir.back() != '/') dir += '/';
  return {dir + ".xsession", dir + ".xsession.lirvo-save"};
}

std::string CurrentExecutablePath() {
  std::string buf(4096, '\0');
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return {};
  buf.resize(static_cast<size_t>(n));
  // An executable replaced by an update while running: the new file at the
  // same path is the one to start.
  const std::string deleted = " (deleted)";
  if (buf.size() > deleted.size() && buf.ends_with(deleted))
    buf.resize(buf.size() - deleted.size());
  return buf;
}

std::string QuoteForShell(const std::string& PlayerPath) {
  std::string out = "\"";
  for (char c : PlayerPath) {
    if (c == '$' || c == '`' || c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

bool IsShell(const std::string& PlayerPath, const TShellFiles& Files) {
  if (PlayerPath.empty() || !Files.Valid()) return false;
  TScript script;
  if (ReadScript(Files.Shell, script) != TReadResult::Ok) return false;
  if (ContainsNoCase(script.Text, PlayerPath)) return true;
  std::string quoted = QuoteForShell(PlayerPath);
  return ContainsNoCase(script.Text, quoted.substr(1, quoted.size() - 2));
}

bool RegisterShell(const std::string& PlayerPath, const TShellFiles& Files) {
  if (PlayerPath.empty() || !Files.Valid()) return false;
  TScript saved;
  TReadResult hasSaved = ReadScript(Files.SaveShell, saved);
  if (hasSaved == TReadResult::Failed) return false;
  if (hasSaved == TReadResult::Missing) {
    TScript present;
    switch (ReadScript(Files.Shell, present)) {
      case TReadResult::Failed:
        // What cannot be read cannot be saved; replacing it would lose it.
        return false;
      case TReadResult::Missing:
        present = TScript{};  // saved empty: "there was no script"
        [[fallthrough]];
      case TReadResult::Ok:
        if (!WriteScript(Files.SaveShell, present.Text, present.Mode)) return false;
        break;
    }
  }
  return WriteScript(Files.Shell, kScriptHeader + ("exec " + QuoteForShell(PlayerPath)) + "\n",
                     0755);
}

bool RestoreShell(const TShellFiles& Files) {
  if (!Files.Valid()) return false;
  TScript saved;
  switch (ReadScript(Files.SaveShell, saved)) {
    case TReadResult::Failed:
      return false;
    case TReadResult::Ok:
      if (saved.Text.empty()) return unlink(Files.Shell.c_str()) == 0 || errno == ENOENT;
      return WriteScript(Files.Shell, saved.Text, saved.Mode);
    case TReadResult::Missing:
      break;
  }
  return WriteScript(Files.Shell, std::string(kScriptHeader) + "exec x-session-manager\n", 0755);
}

bool RunTerminal(ICommandRunner& Runner) {
  return Runner.StartDetached("x-terminal-emulator", {});
}

bool RunMixer(ICommandRunner& Runner) {
  if (Runner.IsInstalled("pavucontrol")) return Runner.StartDetached("pavucontrol", {});
  return Runner.StartDetached("x-terminal-emulator", {"-e", "alsamixer"});
}

bool ShutdownSystem(ICommandRunner& Runner, bool Reboot) {
  // logind's Reboot/PowerOff with "interactive" true, so polkit may ask the
  // user when the seat alone does not entitle them.
  return Runner.Run(
      "busctl", {"call", "org.freedesktop.login1", "/org/freedesktop/login1",
                 "org.freedesktop.login1.Manager", Reboot ? "Reboot" : "PowerOff", "b", "true"});
}

bool StartPlayerInstance(ICommandRunner& Runner, const std::string& PlayerPath) {
  if (PlayerPath.empty()) return false;
  return Runner.StartDetached(PlayerPath, {});
}

namespace {

void SaveBeforeLeaving(const TSaveSteps& Steps) {
  if (Steps.StopAudioOut) Steps.StopAudioOut();
  if (Steps.SaveSettings) Steps.SaveSettings();
  if (Steps.SavePlaylist) Steps.SavePlaylist();
}

}  // namespace

bool SaveAndShutdown(const TSaveSteps& Steps, ICommandRunner& Runner, bool Reboot) {
  SaveBeforeLeaving(Steps);
  return ShutdownSystem(Runner, Reboot);
}

bool SaveAndRestart(const TSaveSteps& Steps, ICommandRunner& Runner, const std::string& PlayerPath,
                    const std::function<void()>& Quit) {
  SaveBeforeLeaving(Steps);
  if (!StartPlayerInstance(Runner, PlayerPath)) return false;
  if (Quit) Quit();
  return true;
}

}  // namespace lirvo

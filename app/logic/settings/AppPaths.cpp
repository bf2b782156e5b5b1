#include "app/logic/settings/AppPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace lirvo {

namespace {

namespace fs = std::filesystem;

bool AccessWritable(const std::string& Dir) {
  return ::access(Dir.c_str(), W_OK) == 0;
}

std::string ExecutableDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

std::string HomeDir() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  // No HOME (a service, a stripped environment): the account's entry.
  std::vector<char> buffer(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir) {
    return found->pw_dir;
  }
  return std::string();
}

std::string FileIn(const TAppPathEnvironment& Env, const char* Name) {
  return (fs::path(GetConfigDir(Env)) / Name).string();
}

}  // namespace

TAppPathEnvironment CurrentAppPathEnvironment() {
  TAppPathEnvironment env;
  env.ExeDir = ExecutableDir();
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) env.XdgConfigHome = xdg;
  env.Home = HomeDir();
  env.IsWritableDir = AccessWritable;
  return env;
}

std::string GetConfigDir(const TAppPathEnvironment& Env) {
  const auto writable = Env.IsWritableDir ? Env.IsWritableDir : AccessWritable;
  if (!Env.ExeDir.empty() && writable(Env.ExeDir)) return Env.ExeDir;
  // The base directory rules ignore a relative XDG_CONFIG_HOME.
  fs::path base;
  if (!Env.XdgConfigHome.empty() && fs::path(Env.XdgConfigHome).is_absolute()) {
    base = Env.XdgConfigHome;
  } else {
    base = fs::path(Env.Home) / ".config";
  }
  return (base / "lirvo").string();
}

std::string GetSettingsFileName(const TAppPathEnvironment& Env) {
  return FileIn(Env, "lirvo.ini");
}

std::string GetSettingsFileName() {
  return GetSettingsFileName(CurrentAppPathEnvironment());
}

std::string GetPlaylistFileName(const TAppPathEnvironment& Env) {
  return FileIn(Env, "lirvo.xpl");
}

std::string GetPlaylistFileName() {
  return GetPlaylistFileName(CurrentAppPathEnvironment());
}

}  // namespace lirvo

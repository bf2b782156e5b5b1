#pragma once
// Where the player keeps its settings file (lirvo.ini) and its playlist file
// (lirvo.xpl): beside the executable when that folder is writable (a portable
// copy), otherwise in $XDG_CONFIG_HOME/lirvo/ (~/.config/lirvo/ when the
// variable is unset or not an absolute path).
//
// The environment is a value so tests can point every part of it at a
// folder of their own.

#include <functional>
#include <string>

namespace lirvo {

struct TAppPathEnvironment {
  std::string ExeDir;         // folder of the running executable; empty when unknown
  std::string XdgConfigHome;  // $XDG_CONFIG_HOME; empty when unset
  std::string Home;           // $HOME, or the account's home folder
  // Whether files can be created in a folder; default: access(W_OK).
  std::function<bool(const std::string& Dir)> IsWritableDir;
};

// The running process's environment.
TAppPathEnvironment CurrentAppPathEnvironment();

// The folder both files live in (no trailing slash). Nothing is created: the
// file writers create a missing folder.
std::string GetConfigDir(const TAppPathEnvironment& Env);

std::string GetSettingsFileName(const TAppPathEnvironment& Env);
std::string GetSettingsFileName();
std::string GetPlaylistFileName(const TAppPathEnvironment& Env);
std::string GetPlaylistFileName();

}  // namespace lirvo

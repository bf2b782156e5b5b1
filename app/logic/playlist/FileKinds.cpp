#include "app/logic/playlist/FileKinds.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "audio/core/AuException.h"
#include "audio/core/TextCodec.h"
#include "audio/processors/CueSheet.h"

namespace lirvo {

namespace {

bool StartsWithText(std::string_view Text, std::string_view Prefix) {
  return Text.size() >= Prefix.size() && SameText(Text.substr(0, Prefix.size()), Prefix);
}

bool EndsWithText(std::string_view Text, std::string_view Suffix) {
  return Text.size() >= Suffix.size() && SameText(Text.substr(Text.size() - Suffix.size()), Suffix);
}

// A regular file (or a link to one) exists at Path; folders do not count.
bool FileExists(const std::string& Path) {
  std::error_code ec;
  return !Path.empty() && std::filesystem::is_regular_file(std::filesystem::path(Path), ec);
}

// Position of the extension's dot in Path's last component, or npos.
size_t ExtensionDot(std::string_view Path) {
  const size_t slash = Path.rfind('/');
  const size_t dot = Path.rfind('.');
  if (dot == std::string_view::npos) return dot;
  if (slash != std::string_view::npos && dot < slash) return std::string_view::npos;
  return dot;
}

std::string ChangeFileExt(const std::string& Path, std::string_view Ext) {
  const size_t dot = ExtensionDot(Path);
  std::string out = dot == std::string::npos ? Path : Path.substr(0, dot);
  out += Ext;
  return out;
}

// The sheet's folder with its trailing "/", or empty for a bare file name.
std::string FolderOf(const std::string& Path) {
  const size_t slash = Path.rfind('/');
  return slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
}

bool IsAsciiLetter(char C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z');
}

// Sheets written on Windows name their file by a drive path ("D:\a.flac"),
// or a path from the root of a drive or share ("\a.flac", "\\srv\a.flac").
bool IsWindowsAbsolute(std::string_view Name) {
  return (Name.size() >= 2 && IsAsciiLetter(Name[0]) && Name[1] == ':') ||
         (!Name.empty() && Name[0] == '\\');
}

// The audio file a FILE line's name stands for, seen from the sheet.
std::string ResolveFileLineName(const std::string& Name, const std::string& CuePath) {
  // An empty name would make the sheet's folder the audio file, and a name
  // with a NUL cannot name a file at all.
  if (Name.empty() || Name.find('\0') != std::string::npos) return std::string();
  const std::string folder = FolderOf(CuePath);
  if (Name[0] == '/' || IsWindowsAbsolute(Name)) {
    if (FileExists(Name)) return Name;
    // The image usually travels with its sheet: look for it beside the sheet.
    const size_t cut = Name.find_last_of("/\\:");
    const std::string base = Name.substr(cut + 1);
    if (!base.empty() && FileExists(folder + base)) return folder + base;
    return Name;
  }
  std::string relative = Name;
  for (char& c : relative)
    if (c == '\\') c = '/';
  return folder + relative;
}

}  // namespace

TAudioFileType GetAudioFileType(const std::string& Path) {
  const size_t dot = ExtensionDot(Path);
  if (dot == std::string::npos) return aftUnknown;
  const std::string_view ext = std::string_view(Path).substr(dot);
  struct Kind {
    std::string_view Ext;
    TAudioFileType Type;
  };
  static constexpr Kind kKinds[] = {{".WAV", aftWAV}, {".FLAC", aftFLAC}, {".APE", aftAPE},
                                    {".MP3", aftMP3}, {".WMA", aftWMA},   {".CUE", aftCUE}};
  for (const Kind& k : kKinds)
    if (SameText(ext, k.Ext)) return k.Type;
  return aftUnknown;
}

bool CueLinesHaveSeveralFiles(const std::vector<std::string>& Lines) {
  int files = 0;
  for (const std::string& line : Lines) {
    if (StartsWithText(TrimLeft(line), "FILE ") && ++files == 2) return true;
  }
  return false;
}

std::string CueFileLineTarget(const std::vector<std::string>& Lines, const std::string& CuePath) {
  for (const std::string& line : Lines) {
    const std::string left = TrimLeft(line);
    if (StartsWithText(left, "TRACK ")) break;
    if (!StartsWithText(left, "FILE ") || !EndsWithText(TrimRight(line), " WAVE")) continue;
    const size_t open = line.find('"');
    if (open == std::string::npos) continue;
    const size_t close = line.find('"', open + 1);
    if (close == std::string::npos) continue;
    return ResolveFileLineName(line.substr(open + 1, close - open - 1), CuePath);
  }
  return std::string();
}

bool CueHasSeveralFiles(const std::string& CuePath) {
  try {
    return CueLinesHaveSeveralFiles(LoadCueSheetLines(CuePath));
  } catch (const EAuException&) {
    // An unreadable sheet names no file; the callers then add or play nothing.
    return false;
  }
}

std::string GetCueAudioFileName(const std::string& CuePath) {
  std::vector<std::string> lines;
  try {
    lines = LoadCueSheetLines(CuePath);
  } catch (const EAuException&) {
    // An unreadable sheet names no file; the callers then add or play nothing.
    return std::string();
  }
  std::string result = CueFileLineTarget(lines, CuePath);
  // An image beside the sheet under the sheet's own name wins over FILE.
  for (std::string_view ext : {".wav", ".flac", ".ape"}) {
    std::string beside = ChangeFileExt(CuePath, ext);
    if (FileExists(beside)) return beside;
  }
  return result;
}

}  // namespace lirvo

#pragma once
// Two small decisions about files that playing and adding share: the kind of
// a file, from its extension alone, and the audio file behind a CUE sheet.
// Paths are UTF-8 with "/" as the folder separator. No Qt: the command-line
// tools use these too.

#include <string>
#include <vector>

namespace lirvo {

// Kind of a playlist file, decided by its extension.
enum TAudioFileType { aftWAV, aftFLAC, aftAPE, aftMP3, aftWMA, aftCUE, aftUnknown };

// ".wav", ".flac", ".ape", ".mp3", ".wma" and ".cue" in any letter case; any
// other extension, or none, is aftUnknown. The file is never opened.
TAudioFileType GetAudioFileType(const std::string& Path);

// True when the sheet has a second line starting (after leading blanks) with
// "FILE " in any case. False for a sheet that cannot be read.
bool CueHasSeveralFiles(const std::string& CuePath);

// The audio file behind a sheet, possibly empty (also for a sheet that cannot
// be read). A file beside the sheet with the sheet's own name and the
// extension .wav, .flac or .ape (tried in that order) wins; otherwise the
// first FILE line before the first TRACK whose type is WAVE names the file,
// relative to the sheet's folder unless the name is absolute.
std::string GetCueAudioFileName(const std::string& CuePath);

// The cores of the two sheet helpers, over lines already read (for tests and
// the fuzzer). CueFileLineTarget does only the FILE-line part of
// GetCueAudioFileName: a relative name (backslashes count as folder
// separators) is joined to CuePath's folder; an absolute name ("/..." or a
// Windows path such as "D:\music\a.flac") is taken as it is when that file
// exists, else its base name beside the sheet when that exists, else as it is.
bool CueLinesHaveSeveralFiles(const std::vector<std::string>& Lines);
std::string CueFileLineTarget(const std::vector<std::string>& Lines, const std::string& CuePath);

}  // namespace lirvo

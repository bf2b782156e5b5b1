#pragma once
// The file list's mask: one or more file-name patterns separated by ";", with
// "*" (any run of characters) and "?" (one character) as wildcards. Names are
// compared without regard to case, so "*.flac" also shows "Track.FLAC" as the
// music libraries copied from other systems expect.

#include <QList>
#include <QRegularExpression>
#include <QString>

// The mask the file list starts with and goes back to when the filter box is
// emptied.
inline constexpr char kDefaultFileListMask[] = "*.wav;*.cue;*.flac;*.ape;*.mp3;*.wma";

class TFileMask {
 public:
  TFileMask();
  explicit TFileMask(const QString& mask);

  // The mask as it was given.
  const QString& Text() const { return FText; }
  // Whether a bare file name (no folder) matches one of the patterns. A mask
  // with no pattern (empty or only ";" and blanks) matches nothing.
  bool Matches(const QString& fileName) const;

 private:
  QString FText;
  QList<QRegularExpression> FPatterns;
};

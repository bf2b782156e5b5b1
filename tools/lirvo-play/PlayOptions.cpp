#include "PlayOptions.h"

#include <charconv>

namespace lirvo::play {

namespace {

int64_t ParseCount(const std::string& Option, const std::string& Text) {
  int64_t value = 0;
  const char* end = Text.data() + Text.size();
  const auto [ptr, ec] = std::from_chars(Text.data(), end, value);
  if (Text.empty() || ec != std::errc() || ptr != end || value < 0)
    throw TUsageError{"invalid value for " + Option + ": '" + Text + "'"};
  return value;
}

}  // namespace

const char* UsageText() {
  return "usage: lirvo-play --info FILE\n"
         "       lirvo-play --decode FILE --out OUT [--start FRAME] [--frames N]\n"
         "       lirvo-play --decode SHEET.cue --track N --out OUT [--start FRAME] [--frames N]\n"
         "\n"
         "  --info     print the file's kind, validity, format, length and tags\n"
         "  --decode   write the decoder's PCM output from frame FRAME (default 0),\n"
         "             N frames (default: to the end), to OUT: raw interleaved\n"
         "             little-endian PCM, a WAV file when OUT ends in .wav,\n"
         "             or standard output (raw) when OUT is -\n"
         "\n"
         "  A CUE sheet: --info lists the album, the audio file behind the sheet\n"
         "  and every track; --decode --track N writes exactly that track's frames\n"
         "  (FRAME then counts from the track's start).\n";
}

TPlayOptions ParseOptions(const std::vector<std::string>& Args) {
  TPlayOptions o;
  bool haveCommand = false;
  bool haveStart = false;
  bool haveFrames = false;
  auto value = [&](size_t& i) -> const std::string& {
    if (i + 1 >= Args.size()) throw TUsageError{Args[i] + " needs a value"};
    return Args[++i];
  };
  auto command = [&](TCommand c, size_t& i) {
    if (haveCommand) throw TUsageError{"give only one of --info and --decode"};
    haveCommand = true;
    o.Command = c;
    o.File = value(i);
  };
  for (size_t i = 0; i < Args.size(); ++i) {
    const std::string& a = Args[i];
    if (a == "--help" || a == "-h") {
      o.Command = TCommand::Help;
      return o;
    } else if (a == "--info") {
      command(TCommand::Info, i);
    } else if (a == "--decode") {
      command(TCommand::Decode, i);
    } else if (a == "--out") {
      o.Out = value(i);
    } else if (a == "--start") {
      o.Start = ParseCount(a, value(i));
      haveStart = true;
    } else if (a == "--track") {
      const int64_t n = ParseCount(a, value(i));
      if (n < 1 || n > 255) throw TUsageError{"--track takes a number from 1 to 255"};
      o.Track = static_cast<int>(n);
    } else if (a == "--frames") {
      o.Frames = ParseCount(a, value(i));
      haveFrames = true;
    } else {
      throw TUsageError{"unknown argument '" + a + "'"};
    }
  }
  if (!haveCommand) throw TUsageError{"give --info FILE or --decode FILE"};
  if (o.Command == TCommand::Decode && o.Out.empty()) throw TUsageError{"--decode needs --out OUT"};
  if (o.Command == TCommand::Info && (!o.Out.empty() || haveStart || haveFrames || o.Track))
    throw TUsageError{"--out, --start, --frames and --track go with --decode"};
  return o;
}

}  // namespace lirvo::play

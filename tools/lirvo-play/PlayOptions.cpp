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
         "       lirvo-play --list-devices\n"
         "       lirvo-play --play FILE [--track N] [--engine dsound|asio] [--device N|NAME]\n"
         "                  [--latency MS] [--buffer min|preferred|max|FRAMES]\n"
         "\n"
         "  --info     print the file's kind, validity, format, length and tags\n"
         "  --decode   write the decoder's PCM output from frame FRAME (default 0),\n"
         "             N frames (default: to the end), to OUT: raw interleaved\n"
         "             little-endian PCM, a WAV file when OUT ends in .wav,\n"
         "             or standard output (raw) when OUT is -\n"
         "\n"
         "  A CUE sheet: --info lists the album, the audio file behind the sheet\n"
         "  and every track; --decode --track N writes exactly that track's frames\n"
         "  (FRAME then counts from the track's start).\n"
         "\n"
         "  --list-devices  list the devices of both engines with their numbers\n"
         "  --play     play FILE (or track N of a CUE sheet) through the player's\n"
         "             chain: dsound (the shared output, default; --latency is its\n"
         "             ring in ms, default 100) or asio (the direct drivers; --buffer\n"
         "             picks the driver's buffer size, default preferred; a frame\n"
         "             count picks the nearest size the driver offers). --device is a\n"
         "             number or name from --list-devices; for dsound also any ALSA\n"
         "             PCM name. With LIRVO_ALSA_CONFIG naming an ALSA configuration\n"
         "             file, a name not listed is looked up in that file (either\n"
         "             engine). Ctrl+C stops playback.\n";
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
  bool havePlayOption = false;
  auto command = [&](TCommand c, size_t& i) {
    if (haveCommand)
      throw TUsageError{"give only one of --info, --decode, --play and --list-devices"};
    haveCommand = true;
    o.Command = c;
    if (c != TCommand::ListDevices) o.File = value(i);
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
    } else if (a == "--play") {
      command(TCommand::Play, i);
    } else if (a == "--list-devices") {
      command(TCommand::ListDevices, i);
    } else if (a == "--engine") {
      const std::string& e = value(i);
      if (e == "dsound")
        o.Engine = TEngine::DSound;
      else if (e == "asio")
        o.Engine = TEngine::ASIO;
      else
        throw TUsageError{"--engine takes dsound or asio"};
      havePlayOption = true;
    } else if (a == "--device") {
      o.Device = value(i);
      if (o.Device.empty()) throw TUsageError{"--device needs a number or a name"};
      havePlayOption = true;
    } else if (a == "--latency") {
      const int64_t ms = ParseCount(a, value(i));
      if (ms < 1 || ms > 10000) throw TUsageError{"--latency takes 1 to 10000 milliseconds"};
      o.LatencyMs = static_cast<int>(ms);
      o.HaveLatency = true;
      havePlayOption = true;
    } else if (a == "--buffer") {
      o.Buffer = value(i);
      if (o.Buffer != "min" && o.Buffer != "preferred" && o.Buffer != "max") {
        const int64_t frames = ParseCount(a, o.Buffer);
        if (frames < 1 || frames > 1 << 20) throw TUsageError{"invalid value for --buffer"};
      }
      havePlayOption = true;
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
  if (!haveCommand)
    throw TUsageError{"give --info FILE or --decode FILE (or --play FILE, --list-devices)"};
  if (havePlayOption && o.Command != TCommand::Play)
    throw TUsageError{"--engine, --device, --latency and --buffer go with --play"};
  if (o.Command == TCommand::Play) {
    if (!o.Out.empty() || haveStart || haveFrames)
      throw TUsageError{"--out, --start and --frames go with --decode"};
    if (o.HaveLatency && o.Engine != TEngine::DSound)
      throw TUsageError{"--latency goes with --engine dsound"};
    if (!o.Buffer.empty() && o.Engine != TEngine::ASIO)
      throw TUsageError{"--buffer goes with --engine asio"};
  }
  if (o.Command == TCommand::ListDevices && (!o.Out.empty() || haveStart || haveFrames || o.Track))
    throw TUsageError{"--list-devices takes no other arguments"};
  if (o.Command == TCommand::Decode && o.Out.empty()) throw TUsageError{"--decode needs --out OUT"};
  if (o.Command == TCommand::Info && (!o.Out.empty() || haveStart || haveFrames || o.Track))
    throw TUsageError{"--out, --start, --frames and --track go with --decode"};
  return o;
}

}  // namespace lirvo::play

// The decoder chosen for a file name: by extension, in any letter case.

#include <gtest/gtest.h>

#include "audio/decoders/AudioFLAC.h"
#include "audio/decoders/AudioMAC.h"
#include "audio/decoders/AudioWave.h"
#include "audio/decoders/AudioWinMedia.h"
#include "audio/decoders/DecoderFactory.h"

using namespace lirvo;

namespace {

enum TKind { kNone, kWave, kFlac, kMac, kWm };

TKind KindOf(const TAuFileIn* In) {
  if (!In) return kNone;
  if (dynamic_cast<const TWaveIn*>(In)) return kWave;
  if (dynamic_cast<const TFLACIn*>(In)) return kFlac;
  if (dynamic_cast<const TMACIn*>(In)) return kMac;
  if (dynamic_cast<const TWMIn*>(In)) return kWm;
  return kNone;
}

TEST(DecoderFactory, ChoosesByExtensionInAnyCaseAndRefusesOthers) {
  const struct {
    const char* Path;
    TKind Kind;
  } cases[] = {
      {"/m/a.wav", kWave},
      {"/m/a.WAV", kWave},
      {"/m/a.flac", kFlac},
      {"/m/a.FlAc", kFlac},
      {"/m/a.ape", kMac},
      {"/m/a.APE", kMac},
      {"/m/a.mp3", kWm},
      {"/m/a.Mp3", kWm},
      {"/m/a.wma", kWm},
      {"/m/a.WMA", kWm},
      {"/m/a.ogg", kNone},
      {"/m/a.cue", kNone},
      {"/m/a.wave", kNone},
      {"/m/noextension", kNone},
      {"/m.flac/noext", kNone},
      {"/m/a.flac.bak", kNone},
      {"", kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Path);
    std::unique_ptr<TAuFileIn> in = CreateDecoderForFile(c.Path);
    EXPECT_EQ(KindOf(in.get()), c.Kind);
    if (in) {
      EXPECT_EQ(in->FileName(), c.Path);
    }
  }
}

}  // namespace

// The chain the ASIO engine plays, end to end on real threads: a 16-bit
// source through the converter to 32-bit stereo and the cache into a sink.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "audio/processors/AudioCache.h"
#include "audio/processors/AudioConverters.h"
#include "common/Pump.h"
#include "common/RecordingSink.h"
#include "common/TestSource.h"

using namespace lirvo;
using namespace lirvo::test;

namespace {

TEST(ConverterChain, SixteenBitSourceReachesTheSinkAsExactThirtyTwoBitStereo) {
  TComponent owner;
  TTestSource source(&owner);
  source.TotalBytes = 44100 * 4 * 3 + 4 * 123;
  TAudioConverter bps(&owner);
  bps.SetOutBitsPerSample(32);
  bps.SetOutChannels(2);
  bps.SetInput(&source);
  TAudioCache cache(&owner);
  cache.SetInput(&bps);
  TRecordingSink sink(&owner);
  sink.SetInput(&cache);
  std::atomic<int> done{0};
  sink.SetOnDone([&](TComponent*) { ++done; });

  sink.Run();
  ASSERT_TRUE(PumpUntil([&] { return done == 1; }));
  EXPECT_EQ(sink.SeenBits, 32u);
  EXPECT_EQ(sink.SeenChannels, 2u);
  const std::vector<uint8_t> got = sink.Recorded();
  ASSERT_EQ(static_cast<int64_t>(got.size()), source.TotalBytes * 2);
  int64_t wrong = 0;
  for (int64_t i = 0; i < source.TotalBytes / 2; ++i) {
    int16_t s = static_cast<int16_t>(PatternByte(2 * i) | (PatternByte(2 * i + 1) << 8));
    int32_t out;
    std::memcpy(&out, got.data() + 4 * i, 4);
    if (out != static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(s)) << 16)) ++wrong;
  }
  EXPECT_EQ(wrong, 0) << "every sample is the exact widening";
  sink.SetInput(nullptr);
}

}  // namespace

// The track queue under the read-ahead cache, as the player links them: the
// tracks arrive as one stream, byte for byte, the cache tells where each one
// begins, and a seek reaches the track being heard.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/processors/AudioCache.h"
#include "audio/processors/TrackQueue.h"
#include "common/JumpingSource.h"

using namespace lirvo;
using namespace lirvo::test;
using namespace std::chrono_literals;

namespace {

// A track of Bytes bytes whose content tells which track and which byte it
// is (JumpByte of Base + offset); _Jump moves it by thousandths like a file.
class TTrack : public TAuInput {
 public:
  TTrack(int64_t Base, int64_t Bytes, uint32_t Rate = 44100)
      : TAuInput(nullptr), FBase(Base), FBytes(Bytes), FRate(Rate) {}
  ~TTrack() override { NotifyRemoval(); }
  int64_t Base() const { return FBase; }
  int64_t Bytes() const { return FBytes; }
  int Flushes = 0;

  void _Jump(int32_t Offs) override {
    std::lock_guard<std::recursive_mutex> lock(DataCS);
    FPos = std::clamp<int64_t>(FPos + FBytes * Offs / 1000 / 4 * 4, 0, FBytes);
    FPosition = FPos;
  }

 protected:
  uint32_t GetBitsPerSample() override { return 16; }
  uint32_t GetChannels() override { return 2; }
  uint32_t GetSampleRate() override { return FRate; }
  void InitInternal() override {
    FPos = 0;
    FPosition = 0;
    FSize = FBytes;
    FBlock.resize(4096);
    Busy = true;
  }
  void FlushInternal() override {
    ++Flushes;
    Busy = false;
  }
  void GetDataInternal(uint8_t*& Buffer, uint32_t& Bytes) override {
    uint32_t n = static_cast<uint32_t>(
        std::min<int64_t>({Bytes, FBytes - FPos, static_cast<int64_t>(FBlock.size())}));
    n -= n % 4;
    for (uint32_t i = 0; i < n; ++i)
      FBlock[i] = JumpByte(FBase + FPos + i);
    FPos += n;
    FPosition = FPos;
    Buffer = n ? FBlock.data() : nullptr;
    Bytes = n;
  }

 private:
  int64_t FBase, FBytes;
  uint32_t FRate;
  int64_t FPos = 0;
  std::vector<uint8_t> FBlock;
};

// Where a byte of the stream came from: the first offset where Got differs
// from Tracks played from Start[k] on; -1 when all of it matches.
struct TPiece {
  const TTrack* Track;
  int64_t From;
  int64_t Count;
};
int64_t FirstMismatch(const std::vector<uint8_t>& Got, const std::vector<TPiece>& Pieces) {
  int64_t at = 0;
  for (const TPiece& p : Pieces) {
    for (int64_t i = 0; i < p.Count; ++i, ++at) {
      if (at >= static_cast<int64_t>(Got.size())) return at;
      if (Got[at] != JumpByte(p.Track->Base() + p.From + i)) return at;
    }
  }
  return at == static_cast<int64_t>(Got.size()) ? -1 : at;
}

// What the reader saw where a track began.
struct TStart {
  int64_t At;        // stream offset of the block
  int64_t Position;  // the cache's position after that block
  int64_t Block;     // the block's size
  int64_t Size;      // the cache's size then
};

// Reads the cache to its end as the output does, answering the queue as the
// controller does: when a track is heard, the one before is taken and the
// following one handed over (or the end announced).
struct TReader {
  TReader(TAudioCache& C, TTrackQueue& Q) : Cache(C), Queue(Q) {}
  TAudioCache& Cache;
  TTrackQueue& Queue;
  std::vector<TTrack*> Following;  // handed over one by one
  std::vector<uint8_t> Got;
  std::vector<TStart> Starts;
  std::vector<TAuInput*> Finished;
  uint32_t Ask = 4096;

  // Reads until the end, or until Limit bytes.
  void Read(int64_t Limit = -1) {
    uint64_t serial = Cache.TrackSerial();
    for (;;) {
      if (Limit >= 0 && static_cast<int64_t>(Got.size()) >= Limit) return;
      uint8_t* p = nullptr;
      uint32_t n = Ask;
      Cache.GetData(p, n);
      if (n == 0) return;
      const int64_t at = static_cast<int64_t>(Got.size());
      Got.insert(Got.end(), p, p + n);
      if (Cache.TrackSerial() != serial) {
        serial = Cache.TrackSerial();
        Starts.push_back({at, Cache.Position(), n, Cache.Size()});
        if (TAuInput* done = Queue.TakeFinished()) {
          Finished.push_back(done);
          done->Reset();
        }
        HandOver();
      }
    }
  }
  void HandOver() {
    if (Following.empty()) {
      Queue.EndAfterCurrent();
      return;
    }
    TTrack* next = Following.front();
    Following.erase(Following.begin());
    next->Init();
    ASSERT_TRUE(Queue.SetNext(next));
  }
};

struct TrackQueueTest : ::testing::Test {
  TTrackQueue queue;
  TAudioCache cache{nullptr};
  void SetUp() override { cache.SetInput(&queue); }
  void TearDown() override {
    cache.BreakWait();
    cache.Reset();
    cache.SetInput(nullptr);
  }
};

// Sizes around the ring's (6 MiB): a track longer than the ring, one of a
// single frame (all of it is read before the one before is heard), one that
// fits many times. Every byte arrives once, in order; the cache counts each
// track where its first byte is delivered and starts its position there.
TEST_F(TrackQueueTest, TracksFollowEachOtherByteForByteAndEachStartIsCountedWhereItBegins) {
  struct Case {
    const char* Name;
    std::vector<int64_t> Sizes;
    uint32_t Ask;
  };
  const Case cases[] = {
      {"long, one frame, short", {7 * 1024 * 1024 + 4, 4, 300'000}, 4096},
      {"short, short, long", {100'000, 52'000, 7 * 1024 * 1024}, 65536},
      {"blocks that straddle every start", {10'004, 20'008, 30'012, 40'016}, 3000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::unique_ptr<TTrack>> tracks;
    for (size_t i = 0; i < c.Sizes.size(); ++i)
      tracks.push_back(std::make_unique<TTrack>(static_cast<int64_t>(i) << 40, c.Sizes[i]));
    TReader reader(cache, queue);
    reader.Ask = c.Ask;
    for (size_t i = 2; i < tracks.size(); ++i)
      reader.Following.push_back(tracks[i].get());
    queue.SetInput(tracks[0].get());
    tracks[1]->Init();
    ASSERT_TRUE(queue.SetNext(tracks[1].get()));
    cache.Init();
    reader.Read();

    std::vector<TPiece> pieces;
    int64_t at = 0;
    std::vector<int64_t> starts;
    for (const auto& t : tracks) {
      pieces.push_back({t.get(), 0, t->Bytes()});
      if (at > 0) starts.push_back(at);
      at += t->Bytes();
    }
    EXPECT_EQ(reader.Got.size(), static_cast<size_t>(at));
    EXPECT_EQ(FirstMismatch(reader.Got, pieces), -1);
    ASSERT_EQ(reader.Starts.size(), starts.size());
    for (size_t i = 0; i < starts.size(); ++i) {
      EXPECT_EQ(reader.Starts[i].At, starts[i]) << "track " << i + 1;
      EXPECT_EQ(reader.Starts[i].Position, reader.Starts[i].Block) << "track " << i + 1;
      EXPECT_EQ(reader.Starts[i].Size, tracks[i + 1]->Bytes()) << "track " << i + 1;
      EXPECT_EQ(reader.Finished[i], tracks[i].get());
    }
    cache.Reset();
  }
}

// The filler reads the next track while the listener still hears the end of
// the one before; a seek then means the track heard. It is read again from
// the new place, the next track is given back to be prepared anew, and
// nothing of what the ring held arrives.
TEST_F(TrackQueueTest, ASeekWhileTheNextTrackIsReadGoesBackToTheTrackHeard) {
  // a is shorter than the lead: b begins in the ring at once.
  TTrack a(1LL << 40, 600'000), b(2LL << 40, 2'000'000);
  queue.SetInput(&a);
  b.Init();
  ASSERT_TRUE(queue.SetNext(&b));
  cache.Init();
  TReader reader(cache, queue);
  reader.Read(8192);
  // Both tracks fit into the ring: the filler is inside b (or at its end,
  // waiting for the track after it).
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (queue.Input() != &b && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  ASSERT_EQ(queue.Input(), &b);
  const uint64_t serial = cache.TrackSerial();

  cache._Jump(-500);  // from a's end (where its decoder stands): its middle
  EXPECT_EQ(queue.Input(), &a);
  EXPECT_EQ(cache.Position(), 300'000);
  EXPECT_EQ(cache.Size(), 600'000);
  EXPECT_EQ(cache.TrackSerial(), serial);
  ASSERT_EQ(queue.TakeAbandoned(), &b);
  b.Reset();
  b.Init();
  ASSERT_TRUE(queue.SetNext(&b));
  reader.Read();

  EXPECT_EQ(FirstMismatch(reader.Got, {{&a, 0, 8192}, {&a, 300'000, 300'000}, {&b, 0, 2'000'000}}),
            -1);
  ASSERT_EQ(reader.Starts.size(), 1u);
  EXPECT_EQ(reader.Starts[0].At, 8192 + 300'000);
  cache.Reset();
}

// The next track enters the ring only for the last seconds of the one
// heard: until then a change of what follows needs nothing read undone.
TEST_F(TrackQueueTest, TheNextTrackIsReadOnlyForTheLastSecondsOfTheOneHeard) {
  const int64_t second = 44100 * 4;
  TTrack a(1LL << 40, 20 * second), b(2LL << 40, second);
  queue.SetInput(&a);
  b.Init();
  ASSERT_TRUE(queue.SetNext(&b));
  cache.Init();
  TReader reader(cache, queue);
  reader.Read(second);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(queue.Input(), &a) << "the next track was read 19 s before it is heard";
  reader.Read(20 * second - (kCacheTrackLeadSeconds - 1) * second);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (queue.Input() != &b && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  EXPECT_EQ(queue.Input(), &b);
  reader.Read();
  EXPECT_EQ(FirstMismatch(reader.Got, {{&a, 0, 20 * second}, {&b, 0, second}}), -1);
  cache.Reset();
}

// With no answer from the controller the stream waits where the track ends;
// EndAfterCurrent ends it there, and a stop (BreakWait) ends the wait, so
// that the run and the cache's flush never hang.
TEST_F(TrackQueueTest, TheEndWaitsForTheAnswerAndAStopEndsTheWait) {
  TTrack a(1LL << 40, 40'000), b(2LL << 40, 40'000);
  {
    queue.SetInput(&a);
    queue.ExpectNextTrack();
    cache.Init();
    TReader reader(cache, queue);
    auto rest = std::async(std::launch::async, [&] {
      std::this_thread::sleep_for(50ms);
      queue.EndAfterCurrent();
    });
    const auto t0 = std::chrono::steady_clock::now();
    reader.Read();
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 40ms) << "the end did not wait for the answer";
    rest.get();
    EXPECT_EQ(FirstMismatch(reader.Got, {{&a, 0, 40'000}}), -1);
    cache.Reset();
  }
  {
    queue.SetInput(&b);
    queue.ExpectNextTrack();
    cache.Init();
    TReader reader(cache, queue);
    reader.Read(40'000);
    auto stop = std::async(std::launch::async, [&] {
      std::this_thread::sleep_for(30ms);
      cache.BreakWait();
    });
    reader.Read();  // waits on the empty ring until the stop
    stop.get();
    EXPECT_EQ(reader.Got.size(), 40'000u);
    cache.Flush();  // the filler left its wait: the flush returns
    EXPECT_FALSE(queue.IsBusy());
    EXPECT_FALSE(b.IsBusy());
  }
}

// A second track is refused while the track read before has not been
// taken, and a queue that has ended takes none; a flush closes every track
// the queue holds.
TEST_F(TrackQueueTest, HandOverRulesAndTheFlushClosesEveryTrack) {
  TTrack a(1LL << 40, 4000), b(2LL << 40, 4000), c(3LL << 40, 4000);
  queue.SetInput(&a);
  b.Init();
  ASSERT_TRUE(queue.SetNext(&b));
  EXPECT_FALSE(queue.SetNext(&c)) << "a next track is already waiting";
  cache.Init();
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (queue.Input() != &b && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(1ms);
  ASSERT_EQ(queue.Input(), &b);
  c.Init();
  EXPECT_FALSE(queue.SetNext(&c)) << "the track before is not yet taken";
  cache.Flush();
  EXPECT_FALSE(a.IsBusy());
  EXPECT_FALSE(b.IsBusy());
  EXPECT_FALSE(queue.SetNext(&c)) << "the stream has ended";
  c.Reset();
}

}  // namespace

#include "tests/app/logic/AdderTestSupport.h"

#include <cstdlib>
#include <fstream>

#include "common/ExternalTools.h"

namespace lirvo::test {

namespace {

void Put16(std::string& S, uint32_t V) {
  S += static_cast<char>(V & 0xFF);
  S += static_cast<char>((V >> 8) & 0xFF);
}

void Put32(std::string& S, uint32_t V) {
  Put16(S, V & 0xFFFF);
  Put16(S, V >> 16);
}

}  // namespace

void WriteWav(const std::string& Path, uint32_t Rate, uint16_t Channels, uint16_t Bits,
              uint32_t Frames, uint32_t ClaimedBytes) {
  const uint32_t frame = Channels * (Bits / 8u);
  const uint32_t bytes = Frames * frame;
  const uint32_t said = ClaimedBytes ? ClaimedBytes : bytes;
  std::string h = "RIFF";
  Put32(h, 36 + said);
  h += "WAVEfmt ";
  Put32(h, 16);
  Put16(h, 1);
  Put16(h, Channels);
  Put32(h, Rate);
  Put32(h, Rate * frame);
  Put16(h, frame);
  Put16(h, Bits);
  h += "data";
  Put32(h, said);
  h.append(bytes, Bits == 8 ? '\x80' : '\0');
  WriteText(Path, h);
}

bool MakeTaggedFlac(const std::string& Path, double Seconds, const std::vector<std::string>& Tags) {
  std::string cmd = "sox -n -r 8000 -c 1 -b 16 " + Quote(Path) + " synth " +
                    std::to_string(Seconds) + " sine 440 vol 0.1 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return false;
  if (Tags.empty()) return true;
  cmd = "metaflac --remove-all-tags";
  for (const std::string& t : Tags)
    cmd += " " + Quote("--set-tag=" + t);
  cmd += " " + Quote(Path) + " 2>/dev/null";
  return std::system(cmd.c_str()) == 0;
}

void TTestQueue::Post(std::function<void()> Call) {
  std::lock_guard<std::mutex> lock(FLock);
  FCalls.push_back(std::move(Call));
}

bool TTestQueue::RunOne() {
  std::function<void()> call;
  {
    std::lock_guard<std::mutex> lock(FLock);
    if (FCalls.empty()) return false;
    call = std::move(FCalls.front());
    FCalls.pop_front();
  }
  call();
  return true;
}

size_t TTestQueue::Size() {
  std::lock_guard<std::mutex> lock(FLock);
  return FCalls.size();
}

std::function<void(std::function<void()>)> TTestQueue::Poster() {
  return [this](std::function<void()> Call) { Post(std::move(Call)); };
}

}  // namespace lirvo::test

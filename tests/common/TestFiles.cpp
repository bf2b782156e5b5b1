#include "common/TestFiles.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

extern "C" {
#include <libavutil/md5.h>
}

namespace lirvo::test {

std::vector<uint8_t> ReadFileBytes(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& Path, const std::vector<uint8_t>& Data) {
  std::ofstream f(Path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
}

void WriteText(const std::string& Path, const std::string& Text) {
  std::ofstream f(Path, std::ios::binary | std::ios::trunc);
  f << Text;
}

std::string ReadText(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::string Md5(const std::vector<uint8_t>& Data) {
  uint8_t d[16];
  av_md5_sum(d, Data.data(), static_cast<int>(Data.size()));
  char hex[33];
  for (int i = 0; i < 16; ++i)
    std::snprintf(hex + i * 2, 3, "%02x", d[i]);
  return hex;
}

std::vector<uint8_t> ReadAll(TAuInput& In, uint32_t Ask, int MaxCalls, bool* HitLimit) {
  std::vector<uint8_t> out;
  if (HitLimit) *HitLimit = true;
  for (int i = 0; i < MaxCalls; ++i) {
    uint8_t* p = nullptr;
    uint32_t n = Ask;
    In.GetData(p, n);
    if (n == 0) {
      if (HitLimit) *HitLimit = false;
      break;
    }
    out.insert(out.end(), p, p + n);
  }
  return out;
}

std::vector<uint8_t> DecodeAll(TAuInput& In, uint32_t Ask) {
  In.Init();
  std::vector<uint8_t> out = ReadAll(In, Ask);
  In.Flush();
  return out;
}

}  // namespace lirvo::test

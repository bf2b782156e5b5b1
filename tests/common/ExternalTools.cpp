#include "common/ExternalTools.h"

#include <cstdio>
#include <cstdlib>

namespace lirvo::test {

std::string Quote(const std::string& S) {
  std::string q = "'";
  for (char c : S)
    q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::vector<uint8_t> RunCapture(const std::string& Command) {
  std::vector<uint8_t> out;
  FILE* p = popen(Command.c_str(), "r");
  if (!p) return out;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
    out.insert(out.end(), buf, buf + n);
  pclose(p);
  return out;
}

bool HaveTool(const std::string& Name) {
  return std::system(("command -v " + Name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace lirvo::test

#include "common/BenchSupport.h"

#include <cstdlib>
#include <vector>

namespace lirvo::test {

std::string MakeTempDir(const std::string& Prefix) {
  const std::string pattern = "/tmp/" + Prefix + "-XXXXXX";
  std::vector<char> tmpl(pattern.begin(), pattern.end());
  tmpl.push_back('\0');
  if (!mkdtemp(tmpl.data())) return "";
  return tmpl.data();
}

double CpuSeconds(int Who) {
  rusage ru{};
  getrusage(Who, &ru);
  return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec +
         ru.ru_stime.tv_usec / 1e6;
}

}  // namespace lirvo::test

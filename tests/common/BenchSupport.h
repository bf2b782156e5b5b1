#pragma once
// What the benchmark programs share: a scratch folder of their own and the
// CPU time a run cost.

#include <sys/resource.h>

#include <string>

namespace lirvo::test {

// A fresh folder /tmp/<Prefix>-XXXXXX; "" when it cannot be made. The caller
// removes it.
std::string MakeTempDir(const std::string& Prefix);

// User plus system CPU seconds of Who (RUSAGE_SELF or RUSAGE_CHILDREN).
double CpuSeconds(int Who = RUSAGE_SELF);

}  // namespace lirvo::test

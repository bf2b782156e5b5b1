#include "audio/outputs/AsioHost.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>

#include "audio/outputs/AsioDrivers.h"

namespace lirvo {

namespace {

std::atomic<int32_t> gLiveObjects{0};

struct TClassEntry {
  TGUID Clsid;
  TAsioDriverFactory Factory;
};

std::mutex& RegistryCS() {
  static std::mutex cs;
  return cs;
}

// Guarded by RegistryCS.
std::vector<TClassEntry>& Registry() {
  static std::vector<TClassEntry> entries;
  return entries;
}

std::once_flag gBuiltInsOnce;
// Set on the thread that registers the built-in classes, whose registrations
// must not wait for themselves.
thread_local bool tRegisteringBuiltIns = false;

// The built-in classes come first, so that a later registration of the same
// class id (a test's) replaces them.
void EnsureBuiltIns() {
  if (tRegisteringBuiltIns) return;
  std::call_once(gBuiltInsOnce, [] {
    tRegisteringBuiltIns = true;
    RegisterBuiltInAsioDrivers();
    tRegisteringBuiltIns = false;
  });
}

std::atomic<IAsioControlPanel*> gControlPanel{nullptr};

}  // namespace

TAsioHostObject::TAsioHostObject() {
  gLiveObjects.fetch_add(1);
}

TAsioHostObject::~TAsioHostObject() {
  gLiveObjects.fetch_sub(1);
}

int32_t AsioHostObjectCount() {
  return gLiveObjects.load();
}

void RegisterAsioDriverClass(const TGUID& Clsid, TAsioDriverFactory Factory) {
  EnsureBuiltIns();
  std::lock_guard<std::mutex> lock(RegistryCS());
  auto& reg = Registry();
  for (auto& e : reg) {
    if (SameGUID(e.Clsid, Clsid)) {
      e.Factory = std::move(Factory);
      return;
    }
  }
  reg.push_back({Clsid, std::move(Factory)});
}

void UnregisterAsioDriverClass(const TGUID& Clsid) {
  std::lock_guard<std::mutex> lock(RegistryCS());
  auto& reg = Registry();
  reg.erase(std::remove_if(reg.begin(), reg.end(),
                           [&](const TClassEntry& e) { return SameGUID(e.Clsid, Clsid); }),
            reg.end());
}

int32_t CreateAsioHost(const TAsioDriverDesc& Desc, const TOutputEnvironment& Env,
                       std::unique_ptr<IAsioHost>& Driver) {
  EnsureBuiltIns();
  Driver.reset();
  TAsioDriverFactory factory;
  {
    std::lock_guard<std::mutex> lock(RegistryCS());
    for (const auto& e : Registry()) {
      if (SameGUID(e.Clsid, Desc.id)) {
        factory = e.Factory;
        break;
      }
    }
  }
  if (!factory) return REGDB_E_CLASSNOTREG;
  try {
    Driver = factory(Desc, Env);
  } catch (...) {
    // A driver that cannot be created is reported as a failure code; the
    // output turns it into its own message.
    Driver.reset();
  }
  return Driver ? S_OK : E_FAIL;
}

void SetAsioControlPanel(IAsioControlPanel* Panel) {
  gControlPanel.store(Panel);
}

ASIOError ShowAsioControlPanel(const TAsioDriverFacts& Facts) {
  IAsioControlPanel* panel = gControlPanel.load();
  if (!panel) return ASE_NotPresent;
  panel->Show(Facts);
  return ASE_OK;
}

void CopyAsioText(char* Dst, size_t Size, const std::string& Text) {
  if (!Dst || Size == 0) return;
  size_t n = std::min(Text.size(), Size - 1);
  // Never end inside a multi-byte character: step back over continuation
  // bytes to the start of the character that does not fit.
  if (n < Text.size()) {
    while (n > 0 && (static_cast<unsigned char>(Text[n]) & 0xC0) == 0x80)
      --n;
  }
  std::memcpy(Dst, Text.data(), n);
  Dst[n] = '\0';
}

}  // namespace lirvo

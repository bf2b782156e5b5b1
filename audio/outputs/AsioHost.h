#pragma once
// The direct-driver interface (IAsioHost) and the driver host that creates
// drivers from their class ids.
//
// IAsioHost keeps the meaning of the 21 methods of the ASIO driver interface:
// the output talks to every driver through it. The drivers themselves are our
// own "direct drivers" (ALSA hardware devices, JACK) that stand in for
// in-process COM servers. A driver class is found by the class id at the start
// of its list entry (TAsioDriverDesc) in a small registry, the counterpart of
// COM activation; tests register drivers of their own there.
//
// Ownership: a driver object has exactly one owner (the ASIO output holds it
// from OpenDriver to CloseDriver); destroying it stops the driver, disposes of
// its buffers and releases the device.
//
// Threads: every method is called by the owner's threads (UI or playback
// thread), one at a time. A driver calls the host's callbacks (ASIOCallbacks)
// on its own thread between start and stop; once stop (or disposeBuffers, or
// the destructor) has returned, no callback of that run is running or will
// run.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/core/AudioProcs.h"
#include "audio/outputs/AsioList.h"

namespace lirvo {

struct TOutputEnvironment;

// --- Types and constants of the ASIO driver interface (values as the
// interface defines them) ---

using ASIOBool = int32_t;
inline constexpr ASIOBool ASIOFalse = 0;
inline constexpr ASIOBool ASIOTrue = 1;

using ASIOError = int32_t;
inline constexpr ASIOError ASE_OK = 0;
inline constexpr ASIOError ASE_SUCCESS = 0x3f4847a0;  // answer of `future` for a supported selector
inline constexpr ASIOError ASE_NotPresent = -1000;
inline constexpr ASIOError ASE_HWMalfunction = -999;
inline constexpr ASIOError ASE_InvalidParameter = -998;
inline constexpr ASIOError ASE_InvalidMode = -997;
inline constexpr ASIOError ASE_SPNotAdvancing = -996;
inline constexpr ASIOError ASE_NoClock = -995;
inline constexpr ASIOError ASE_NoMemory = -994;

using ASIOSampleRate = double;

// 64-bit values split into two 32-bit halves: value = hi * 2^32 + lo.
struct ASIOSamples {
  uint32_t hi;
  uint32_t lo;
};
struct ASIOTimeStamp {
  uint32_t hi;
  uint32_t lo;
};

using ASIOSampleType = int32_t;
inline constexpr ASIOSampleType ASIOSTInt16MSB = 0;
inline constexpr ASIOSampleType ASIOSTInt24MSB = 1;
inline constexpr ASIOSampleType ASIOSTInt32MSB = 2;
inline constexpr ASIOSampleType ASIOSTFloat32MSB = 3;
inline constexpr ASIOSampleType ASIOSTFloat64MSB = 4;
inline constexpr ASIOSampleType ASIOSTInt32MSB16 = 8;
inline constexpr ASIOSampleType ASIOSTInt32MSB18 = 9;
inline constexpr ASIOSampleType ASIOSTInt32MSB20 = 10;
inline constexpr ASIOSampleType ASIOSTInt32MSB24 = 11;
inline constexpr ASIOSampleType ASIOSTInt16LSB = 16;
inline constexpr ASIOSampleType ASIOSTInt24LSB = 17;
inline constexpr ASIOSampleType ASIOSTInt32LSB = 18;
inline constexpr ASIOSampleType ASIOSTFloat32LSB = 19;
inline constexpr ASIOSampleType ASIOSTFloat64LSB = 20;
inline constexpr ASIOSampleType ASIOSTInt32LSB16 = 24;
inline constexpr ASIOSampleType ASIOSTInt32LSB18 = 25;
inline constexpr ASIOSampleType ASIOSTInt32LSB20 = 26;
inline constexpr ASIOSampleType ASIOSTInt32LSB24 = 27;

struct ASIOClockSource {
  int32_t index;
  int32_t associatedChannel;
  int32_t associatedGroup;
  ASIOBool isCurrentSource;
  char name[32];
};

struct ASIOChannelInfo {
  int32_t channel;    // in: channel number
  ASIOBool isInput;   // in
  ASIOBool isActive;  // out: buffers created for it
  int32_t channelGroup;
  ASIOSampleType type;
  char name[32];
};

// One per channel given to createBuffers; the driver fills in both halves.
struct ASIOBufferInfo {
  ASIOBool isInput;
  int32_t channelNum;
  void* buffers[2];
};

// Flags of AsioTimeInfo.
inline constexpr uint32_t kSystemTimeValid = 1;
inline constexpr uint32_t kSamplePositionValid = 2;
inline constexpr uint32_t kSampleRateValid = 4;
inline constexpr uint32_t kSpeedValid = 8;
inline constexpr uint32_t kSampleRateChanged = 16;
inline constexpr uint32_t kClockSourceChanged = 32;

struct AsioTimeInfo {
  double speed;
  ASIOTimeStamp systemTime;  // nanoseconds
  ASIOSamples samplePosition;
  ASIOSampleRate sampleRate;
  uint32_t flags;
  char reserved[12];
};

struct ASIOTimeCode {
  double speed;
  ASIOSamples timeCodeSamples;
  uint32_t flags;
  char future[64];
};

struct ASIOTime {
  int32_t reserved[4];
  AsioTimeInfo timeInfo;
  ASIOTimeCode timeCode;
};

// The host's entry points, called by the driver on its own thread. There is
// no user-data pointer: the host keeps its state where the functions find it.
struct ASIOCallbacks {
  void (*bufferSwitch)(int32_t doubleBufferIndex, ASIOBool directProcess);
  void (*sampleRateDidChange)(ASIOSampleRate sRate);
  int32_t (*asioMessage)(int32_t selector, int32_t value, void* message, double* opt);
  ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, int32_t doubleBufferIndex,
                                    ASIOBool directProcess);
};

// Selectors of asioMessage.
inline constexpr int32_t kAsioSelectorSupported = 1;
inline constexpr int32_t kAsioEngineVersion = 2;
inline constexpr int32_t kAsioResetRequest = 3;
inline constexpr int32_t kAsioBufferSizeChange = 4;
inline constexpr int32_t kAsioResyncRequest = 5;
inline constexpr int32_t kAsioLatenciesChanged = 6;
inline constexpr int32_t kAsioSupportsTimeInfo = 7;
inline constexpr int32_t kAsioSupportsTimeCode = 8;

// Result codes of the host (COM's values).
inline constexpr int32_t S_OK = 0;
inline constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005);
inline constexpr int32_t REGDB_E_CLASSNOTREG = static_cast<int32_t>(0x80040154);

// --- The driver interface ---

// The 21 methods in the interface's order, with its arguments and results.
class IAsioHost {
 public:
  virtual ~IAsioHost() = default;

  // Prepares the driver; SysHandle is the host window (opaque). False when
  // the device cannot be used.
  virtual ASIOBool init(void* SysHandle) = 0;
  virtual void getDriverName(char* Name) = 0;  // at most 32 bytes with the NUL
  virtual int32_t getDriverVersion() = 0;
  virtual void getErrorMessage(char* String) = 0;  // at most 124 bytes with the NUL
  virtual ASIOError start() = 0;
  virtual ASIOError stop() = 0;
  virtual ASIOError getChannels(int32_t* NumInputChannels, int32_t* NumOutputChannels) = 0;
  // In frames.
  virtual ASIOError getLatencies(int32_t* InputLatency, int32_t* OutputLatency) = 0;
  // In frames (one half of the double buffer).
  virtual ASIOError getBufferSize(int32_t* MinSize, int32_t* MaxSize, int32_t* PreferredSize,
                                  int32_t* Granularity) = 0;
  virtual ASIOError canSampleRate(ASIOSampleRate SampleRate) = 0;
  virtual ASIOError getSampleRate(ASIOSampleRate* SampleRate) = 0;
  virtual ASIOError setSampleRate(ASIOSampleRate SampleRate) = 0;
  // NumSources: in, the room in Clocks; out, the sources filled in.
  virtual ASIOError getClockSources(ASIOClockSource* Clocks, int32_t* NumSources) = 0;
  virtual ASIOError setClockSource(int32_t Reference) = 0;
  // Frames played since start and the system time (ns) of that position;
  // safe to call from the driver's callback thread.
  virtual ASIOError getSamplePosition(ASIOSamples* SPos, ASIOTimeStamp* TStamp) = 0;
  virtual ASIOError getChannelInfo(ASIOChannelInfo* Info) = 0;
  virtual ASIOError createBuffers(ASIOBufferInfo* BufferInfos, int32_t NumChannels,
                                  int32_t BufferSize, ASIOCallbacks* Callbacks) = 0;
  virtual ASIOError disposeBuffers() = 0;
  // Shows the driver's facts through the control panel the application
  // installed (SetAsioControlPanel); ASE_NotPresent without one.
  virtual ASIOError controlPanel() = 0;
  virtual ASIOError future(int32_t Selector, void* Opt) = 0;
  // Called by the host after it filled a half; safe from the callback thread.
  virtual ASIOError outputReady() = 0;
};

// Base of every driver object: counts the live driver objects of the process.
class TAsioHostObject : public IAsioHost {
 public:
  TAsioHostObject();
  ~TAsioHostObject() override;
  TAsioHostObject(const TAsioHostObject&) = delete;
  TAsioHostObject& operator=(const TAsioHostObject&) = delete;
};

// Driver objects alive now.
int32_t AsioHostObjectCount();

// --- Driver classes (the activation registry) ---

// Creates a driver object for the entry on the devices of Env, or returns
// nullptr when the device cannot be opened (no exception).
using TAsioDriverFactory = std::function<std::unique_ptr<IAsioHost>(const TAsioDriverDesc& Desc,
                                                                    const TOutputEnvironment& Env)>;

// Registers (or replaces) the class behind Clsid. The built-in direct drivers
// are registered before the first creation.
void RegisterAsioDriverClass(const TGUID& Clsid, TAsioDriverFactory Factory);
void UnregisterAsioDriverClass(const TGUID& Clsid);

// Creates the driver of Desc (its class id selects the class) on the devices
// of Env. Returns S_OK with Driver set, REGDB_E_CLASSNOTREG for an unknown
// class, or E_FAIL when the driver could not be created (Driver stays empty).
int32_t CreateAsioHost(const TAsioDriverDesc& Desc, const TOutputEnvironment& Env,
                       std::unique_ptr<IAsioHost>& Driver);

// --- Control panel ---

// What a driver's control panel shows.
struct TAsioDriverFacts {
  std::string Driver;                // the driver's name
  std::string Device;                // the device it drives (PCM name, JACK server)
  std::vector<std::string> Formats;  // the device's sample formats, and what the host sees
  std::vector<uint32_t> SampleRates;
  int32_t MinBufferSize = 0;
  int32_t MaxBufferSize = 0;
  int32_t PreferredBufferSize = 0;
  int32_t OutputChannels = 0;
};

// Supplied by the application (a small dialog); the audio core does not know
// the GUI toolkit. Show runs on the thread that called controlPanel (the UI
// thread) and may block until the dialog is closed.
class IAsioControlPanel {
 public:
  virtual ~IAsioControlPanel() = default;
  virtual void Show(const TAsioDriverFacts& Facts) = 0;
};

// Installs the control panel (nullptr removes it). Not owned; the caller keeps
// it alive while installed.
void SetAsioControlPanel(IAsioControlPanel* Panel);
// Shows Facts through the installed panel: ASE_OK, or ASE_NotPresent without one.
ASIOError ShowAsioControlPanel(const TAsioDriverFacts& Facts);

// Copies Text into a fixed buffer of Size bytes with its NUL, cut on a UTF-8
// character boundary.
void CopyAsioText(char* Dst, size_t Size, const std::string& Text);

}  // namespace lirvo

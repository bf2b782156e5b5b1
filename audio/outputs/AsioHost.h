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
//
// Errors: no method throws; failures are result codes, and a failed call
// leaves the driver as it was before the call unless its comment says
// otherwise. "ALSA" and "JACK" below describe the two built-in drivers
// (audio/lib/alsa/AlsaDirect, audio/lib/jack/JackDriver) as they are today.

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
// bufferSwitch / bufferSwitchTimeInfo run on the driver's real-time thread
// (ALSA: its own thread; JACK: the process thread) with direct processing,
// and must not block. asioMessage is also called synchronously from
// createBuffers on the owner's thread (the capability questions), and with
// kAsioResetRequest from the driver's thread (ALSA) or JACK's notification
// thread; sampleRateDidChange from JACK's notification thread. None of them
// may throw.
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
// The driver missed its deadline (an xrun of the device or server); may be
// sent from the driver's real-time thread, so the host only counts it.
inline constexpr int32_t kAsioOverload = 15;

// Result codes of the host (COM's values).
inline constexpr int32_t S_OK = 0;
inline constexpr int32_t E_FAIL = static_cast<int32_t>(0x80004005);
inline constexpr int32_t REGDB_E_CLASSNOTREG = static_cast<int32_t>(0x80040154);

// --- The driver interface ---

// The 21 methods in the interface's order, with its arguments and results.
class IAsioHost {
 public:
  // Destroying a driver stops it (blocking like stop), disposes of its
  // buffers and releases the device. Owner's thread, never a callback.
  virtual ~IAsioHost() = default;

  // Prepares the driver; SysHandle is the host window (opaque). False when
  // the device cannot be used; the host then destroys the driver. Does not
  // block. ALSA: always true (the device was opened and probed when the
  // driver was created). JACK: false once the server has shut down.
  virtual ASIOBool init(void* SysHandle) = 0;
  // Never fail; the text is cut to fit.
  virtual void getDriverName(char* Name) = 0;  // at most 32 bytes with the NUL
  virtual int32_t getDriverVersion() = 0;
  // The last device error ("" when none).
  virtual void getErrorMessage(char* String) = 0;  // at most 124 bytes with the NUL
  // Starts calling the host back; ASE_OK when already started. Needs
  // createBuffers first (ASE_InvalidMode). The first buffer switch may come
  // before start returns. ALSA: sets the device up for the buffers and starts
  // its thread; ASE_HWMalfunction when the device refuses the setup (the
  // buffers stay, the driver stays stopped). Today, after its thread has
  // ended by itself on a device failure, start answers ASE_OK without
  // restarting until stop has been called. JACK: activates the client and
  // connects the ports (server round trips, which block);
  // ASE_HWMalfunction when the server is gone or refuses.
  virtual ASIOError start() = 0;
  // Stops the callbacks and returns when none is running; ASE_OK, also when
  // not started. Owner's thread only, never from a callback (ALSA would
  // join its own thread). Blocks: ALSA joins its thread, which may be in
  // the middle of a write (bounded: 1 s plus four device buffers for a
  // stalled device), then drains what was written (bounded: 0.5 s plus one
  // device buffer); JACK deactivates the client (a server round trip).
  // Nothing interrupts these waits.
  virtual ASIOError stop() = 0;
  // Output channels the host may use (no inputs). ASE_OK; never blocks.
  virtual ASIOError getChannels(int32_t* NumInputChannels, int32_t* NumOutputChannels) = 0;
  // In frames. ASE_OK. JACK adds the first playback port's latency range
  // to its period.
  virtual ASIOError getLatencies(int32_t* InputLatency, int32_t* OutputLatency) = 0;
  // In frames (one half of the double buffer). ASE_OK. JACK: only the
  // server's period.
  virtual ASIOError getBufferSize(int32_t* MinSize, int32_t* MaxSize, int32_t* PreferredSize,
                                  int32_t* Granularity) = 0;
  // ASE_OK or ASE_NoClock. ALSA asks the device; JACK: only the server's
  // rate.
  virtual ASIOError canSampleRate(ASIOSampleRate SampleRate) = 0;
  virtual ASIOError getSampleRate(ASIOSampleRate* SampleRate) = 0;
  // ASE_NoClock for a rate canSampleRate refuses (nothing changes). ALSA:
  // ASE_InvalidMode for a different rate while started; the rate is kept
  // per device for the process, so a re-created driver starts with it.
  // JACK: the server's rate is not ours to change (ASE_OK for it only).
  virtual ASIOError setSampleRate(ASIOSampleRate SampleRate) = 0;
  // NumSources: in, the room in Clocks; out, the sources filled in. One
  // internal source; ASE_InvalidParameter without room.
  virtual ASIOError getClockSources(ASIOClockSource* Clocks, int32_t* NumSources) = 0;
  virtual ASIOError setClockSource(int32_t Reference) = 0;
  // Frames played since start and the system time (ns) of that position;
  // safe to call from the driver's callback thread. Any thread; atomics.
  virtual ASIOError getSamplePosition(ASIOSamples* SPos, ASIOTimeStamp* TStamp) = 0;
  // ASE_InvalidParameter for an input or a channel out of range. The host
  // takes channel 0's type as the sample format of every channel.
  virtual ASIOError getChannelInfo(ASIOChannelInfo* Info) = 0;
  // Makes the double buffers (filled into BufferInfos) and keeps Callbacks.
  // Owner's thread, driver stopped. Calls Callbacks->asioMessage on the
  // caller's thread before it returns (does the host take time info and
  // reset requests). ASE_InvalidParameter for bad channel entries or
  // callbacks, ASE_InvalidMode when buffers exist, the driver runs, or the
  // size is not allowed (JACK: anything but the server's period),
  // ASE_NoMemory, and (JACK) ASE_HWMalfunction when a port cannot be
  // registered. After a failure no buffers exist (the ports made so far are
  // released), but BufferInfos may be partly filled in.
  virtual ASIOError createBuffers(ASIOBufferInfo* BufferInfos, int32_t NumChannels,
                                  int32_t BufferSize, ASIOCallbacks* Callbacks) = 0;
  // Stops first (blocking like stop), then frees the buffers; no callback
  // runs afterwards. ASE_InvalidMode when there are none.
  virtual ASIOError disposeBuffers() = 0;
  // Shows the driver's facts through the control panel the application
  // installed (SetAsioControlPanel); ASE_NotPresent without one. UI thread;
  // blocks while the panel is shown.
  virtual ASIOError controlPanel() = 0;
  // ASE_NotPresent for every selector (built-in drivers).
  virtual ASIOError future(int32_t Selector, void* Opt) = 0;
  // Called by the host after it filled a half; safe from the callback thread.
  // The built-in drivers answer ASE_NotPresent, after which the host never
  // calls it again in this process.
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
// nullptr when the device cannot be opened (no exception; one that escapes
// counts as nullptr). Runs on CreateAsioHost's caller's thread and may block
// opening the device (ALSA opens without waiting for a busy device; JACK
// connects to the server).
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

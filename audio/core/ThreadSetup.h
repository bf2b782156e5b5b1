#pragma once
// Scheduling set-up shared by every audio thread, mapped onto Linux:
// time-critical = SCHED_FIFO below the audio server the player feeds, where
// RLIMIT_RTPRIO or CAP_SYS_NICE allow it, else the lowest nice value allowed,
// else unchanged; idle = SCHED_IDLE. Affinity uses the processor masks,
// within the processors the process was allowed at start-up. No step ever
// fails the caller: a refused change leaves the thread as it was.

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace lirvo {

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Affinity masks of processors 0..3.
inline constexpr uint32_t ProcessorMask0 = 1;
inline constexpr uint32_t ProcessorMask1 = 2;
inline constexpr uint32_t ProcessorMask2 = 4;
inline constexpr uint32_t ProcessorMask3 = 8;

// Processors online at start-up.
int CPUCount();

// The real-time scheduling class may be switched off for the whole process
// (tests do, so that a spinning test thread cannot starve the machine). When
// off, time-critical falls back to the lowest allowed nice value.
void SetRealtimeAllowed(bool Allowed);
bool RealtimeAllowed();

// What the playback thread feeds, which decides how high the audio threads
// may go: their priority stays below the server's own real-time threads.
enum class TAudioServer {
  Shared,  // PulseAudio or PipeWire
  Jack,    // a JACK server; its process thread calls the player
  None,    // the hardware directly, through the direct driver's own thread
};

// The real-time priorities of the threads that feed a server; 0 = not
// real-time (ordinary scheduling, the lowest nice value allowed).
struct TAudioPriorities {
  int Playback = 0;
  int Driver = 0;  // the direct driver's thread (None only)
  bool operator==(const TAudioPriorities&) const = default;
};

// Priority used without a server (the direct driver on hardware): moderate,
// above ordinary real-time helpers, far below the kernel's and servers' own.
inline constexpr int kDirectDriverPriority = 15;
// Below a shared server whose threads' priority cannot be read: PulseAudio
// takes 5 by default, PipeWire under RTKit 20.
inline constexpr int kUnknownSharedServerPriority = 5;
// RtprioLimit value for an unlimited RLIMIT_RTPRIO.
inline constexpr int kRtprioUnlimited = 1 << 30;

// The choice itself, without side effects. ServerPriority: for Jack the
// client's real-time priority as JACK reports it (0: JACK runs without
// real-time); for Shared the highest real-time priority among the server's
// threads (0: none real-time, -1: unknown); ignored for None. RtprioLimit is
// RLIMIT_RTPRIO's soft value and binds unless Privileged (CAP_SYS_NICE).
TAudioPriorities ChooseAudioPriorities(TAudioServer Server, int ServerPriority, int RtprioLimit,
                                       bool Privileged);

// Records the server the calling thread feeds: an output (or its driver)
// calls it on its playback thread in PrepareOutput, before the device starts.
// A playback thread in the time-critical class moves to the new choice at
// once; one its owner gave an ordinary class keeps it, and goes to the new
// choice when set to time-critical later. The default, before any call, is
// a shared server at the priority its threads have when the thread starts.
void SetAudioServer(TAudioServer Server, int ServerPriority);
// The highest real-time priority among the threads of the running shared
// servers (pulseaudio, pipewire, pipewire-pulse; read from /proc), the
// lowest over several servers; 0 when one runs without real-time threads, -1
// when none is found.
int SharedServerRealtimePriority();

// The SCHED_FIFO priority time-critical audio threads take now (0: none).
int AudioRealtimePriority();

// Applies Priority to the calling thread. Returns true when the requested
// class (or its fallback) took effect.
bool SetCurrentThreadPriority(TThreadPriority Priority);
// Applies Priority to another thread of this process (by its kernel tid).
bool SetThreadPriorityByTid(int Tid, TThreadPriority Priority);
// Reads back the priority class of a thread of this process (best effort).
TThreadPriority GetThreadPriorityByTid(int Tid);

// The processors of Mask that are also in Allowed; empty when none is.
cpu_set_t MaskWithin(uint32_t Mask, const cpu_set_t& Allowed);
// The processors this process was allowed when it started.
const cpu_set_t& AllowedCpus();

// Pins the calling thread to the processors of Mask that the process was
// allowed at start-up; when none of them is, the thread runs on all the
// allowed ones (never on an inherited pin). False when the kernel refused.
bool SetCurrentThreadAffinity(uint32_t Mask);

// The kernel thread id of the calling thread.
int CurrentTid();

// The audio thread kinds. Each thread calls SetupAudioThread(kind) as its
// first action, so that none keeps what it inherited from the thread that
// created it (a real-time playback thread creates the filler and the driver
// thread).
enum class TAudioThreadKind {
  Playback,     // SCHED_FIFO below the server, processor 0
  Event,        // SCHED_IDLE, processor 1
  CacheFiller,  // ordinary scheduling at nice -5, processor 1 or 2
  Driver,       // the direct driver's thread: SCHED_FIFO above the playback thread
};
void SetupAudioThread(TAudioThreadKind Kind);

// The audio threads of this process that are running now (each registers in
// SetupAudioThread and leaves when it ends). The optimiser leaves them as
// they set themselves up.
struct TAudioThreadInfo {
  int Tid = 0;
  TAudioThreadKind Kind = TAudioThreadKind::Playback;
};
std::vector<TAudioThreadInfo> RunningAudioThreads();
bool IsAudioThread(int Tid);

}  // namespace lirvo

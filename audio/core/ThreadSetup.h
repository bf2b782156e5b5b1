#pragma once
// Scheduling set-up shared by every audio thread, mapped onto Linux:
// time-critical = SCHED_FIFO below the audio server's priority where
// RLIMIT_RTPRIO or CAP_SYS_NICE allow it, else the lowest nice value allowed,
// else unchanged; idle = SCHED_IDLE. Affinity uses the processor masks. No
// step ever fails the caller: a refused change leaves the thread as it was.

#include <pthread.h>

#include <atomic>
#include <cstdint>

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

// The SCHED_FIFO priority used for time-critical audio threads.
int AudioRealtimePriority();

// Applies Priority to the calling thread. Returns true when the requested
// class (or its fallback) took effect.
bool SetCurrentThreadPriority(TThreadPriority Priority);
// Applies Priority to another thread of this process (by its kernel tid).
bool SetThreadPriorityByTid(int Tid, TThreadPriority Priority);
// Reads back the priority class of a thread of this process (best effort).
TThreadPriority GetThreadPriorityByTid(int Tid);

// Pins the calling thread to the processors of Mask (bits beyond the online
// processors are dropped; an empty result leaves the affinity alone).
bool SetCurrentThreadAffinity(uint32_t Mask);

// The kernel thread id of the calling thread.
int CurrentTid();

// The three audio thread kinds and their set-up.
enum class TAudioThreadKind { Playback, Event, CacheFiller };
void SetupAudioThread(TAudioThreadKind Kind);

}  // namespace lirvo

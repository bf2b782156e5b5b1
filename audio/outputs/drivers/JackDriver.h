#pragma once
// The JACK direct driver: an IAsioHost over a client of a running JACK server.
//
// The server's rate and period are the driver's only rate and buffer size;
// the host sees 32-bit float buffers (Float32LSB). Each output channel is a
// port "out_N" of the client "Lirvo Player", connected on start to the
// server's playback ports in order (or to the ports the creator names). The
// driver never starts a server: without one it cannot be created.
//
// Threads: JACK's process thread calls the host's buffer switch with direct
// processing for one half and copies that half to the ports, in the same
// cycle; it only reads atomics and the buffers made by createBuffers, and
// writes silence when the driver is not running or the period does not match
// the buffers. JACK's notification thread turns a rate change into the host's
// sample-rate callback, a period change and a server shutdown into a reset
// request.

#include <memory>
#include <string>
#include <vector>

#include "audio/outputs/AsioHost.h"

namespace lirvo::jack {

// Connects a client to Server ("": the environment's default server).
// Destinations: the ports to connect output channel N to instead of the
// server's playback ports (tests capture through ports of their own); empty:
// the playback ports. nullptr when no server can be reached.
std::unique_ptr<IAsioHost> CreateJackDriver(const std::string& Name, const std::string& Server,
                                            std::vector<std::string> Destinations = {});

}  // namespace lirvo::jack

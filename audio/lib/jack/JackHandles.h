#pragma once
// RAII owners of the JACK client library's handles. Policy (which ports, what
// to play) stays in the driver; this file only opens, owns and releases.

#include <jack/jack.h>

#include <memory>
#include <string>

namespace lirvo::jack {

struct ClientDeleter {
  void operator()(jack_client_t* p) const {
    if (p) jack_client_close(p);
  }
};
// The NULL-terminated name arrays of jack_get_ports and friends.
struct NamesDeleter {
  void operator()(const char** p) const {
    if (p) jack_free(p);
  }
};

using ClientPtr = std::unique_ptr<jack_client_t, ClientDeleter>;
using NamesPtr = std::unique_ptr<const char*, NamesDeleter>;

// Opens a client of the server named Server ("": the environment's default,
// JACK_DEFAULT_SERVER or "default"). Never starts a server: without a running
// one it returns nullptr and Status says why.
ClientPtr OpenClient(const std::string& ClientName, const std::string& Server,
                     jack_status_t* Status = nullptr);

}  // namespace lirvo::jack

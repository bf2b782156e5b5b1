#pragma once
// RAII owners of the JACK client library's handles and the text of its
// status bits. Policy (which ports, what to play) stays in the driver; this
// file only opens, owns, releases and reports.

#include <jack/jack.h>
#include <jack/thread.h>

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
// The status bits set in Status, in the words of the JACK API ("overall
// operation failed; unable to connect to the JACK server"); empty when none
// is set.
std::string StatusText(jack_status_t Status);
// "Context: text of Status".
std::string ErrorMessage(jack_status_t Status, const char* Context);
// Returns Status when it does not report a failure (JackFailure is not
// set); otherwise throws EAuException with ErrorMessage(Status, Context).
jack_status_t Check(jack_status_t Status, const char* Context);

// The real-time priority JACK gives the process thread of Client
// (jack_client_real_time_priority); 0 when the server runs without real-time
// scheduling (jack_is_realtime) or Client is null.
int ClientRealtimePriority(jack_client_t* Client);

ClientPtr OpenClient(const std::string& ClientName, const std::string& Server,
                     jack_status_t* Status = nullptr);

}  // namespace lirvo::jack

#include "audio/lib/jack/JackHandles.h"

#include <mutex>

namespace lirvo::jack {

namespace {
// libjack writes its errors to stderr by default; the program reports failures
// through its own messages instead.
void Quiet(const char*) {}
std::once_flag gQuietOnce;
}  // namespace

ClientPtr OpenClient(const std::string& ClientName, const std::string& Server,
                     jack_status_t* Status) {
  std::call_once(gQuietOnce, [] {
    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
  });
  jack_status_t status{};
  jack_client_t* c = nullptr;
  if (Server.empty()) {
    c = jack_client_open(ClientName.c_str(), JackNoStartServer, &status);
  } else {
    c = jack_client_open(ClientName.c_str(),
                         static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                         Server.c_str());
  }
  if (Status) *Status = status;
  return ClientPtr(c);
}

}  // namespace lirvo::jack

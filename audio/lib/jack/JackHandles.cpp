#include "audio/lib/jack/JackHandles.h"

#include <algorithm>
#include <mutex>

#include "audio/core/AuException.h"

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

std::string StatusText(jack_status_t Status) {
  static constexpr struct {
    unsigned Bit;
    const char* Text;
  } kBits[] = {
      {JackFailure, "overall operation failed"},
      {JackInvalidOption, "the operation contained an invalid or unsupported option"},
      {JackNameNotUnique, "the desired client name was not unique"},
      {JackServerStarted, "the JACK server was started"},
      {JackServerFailed, "unable to connect to the JACK server"},
      {JackServerError, "communication error with the JACK server"},
      {JackNoSuchClient, "requested client does not exist"},
      {JackLoadFailure, "unable to load internal client"},
      {JackInitFailure, "unable to initialize client"},
      {JackShmFailure, "unable to access shared memory"},
      {JackVersionError, "client's protocol version does not match"},
      {JackBackendError, "backend error"},
      {JackClientZombie, "client zombified failure"},
  };
  std::string out;
  for (const auto& b : kBits) {
    if ((static_cast<unsigned>(Status) & b.Bit) == 0) continue;
    if (!out.empty()) out += "; ";
    out += b.Text;
  }
  return out;
}

std::string ErrorMessage(jack_status_t Status, const char* Context) {
  return std::string(Context) + ": " + StatusText(Status);
}

int ClientRealtimePriority(jack_client_t* Client) {
  if (!Client || !jack_is_realtime(Client)) return 0;
  return std::max(0, jack_client_real_time_priority(Client));
}

jack_status_t Check(jack_status_t Status, const char* Context) {
  if (Status & JackFailure) throw EAuException(ErrorMessage(Status, Context));
  return Status;
}

}  // namespace lirvo::jack

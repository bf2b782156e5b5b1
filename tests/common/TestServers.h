#pragma once
// Where the test sound servers are. The CTest fixture that starts them writes
// their environment (XDG_RUNTIME_DIR, PULSE_SERVER, LIRVO_TEST_PULSE,
// LIRVO_TEST_JACK_SERVER) into a file named by LIRVO_TEST_SERVERS_ENV; every
// test binary loads it before its tests run, so child processes see it too.
// Without the file (a binary run by hand) the environment stays as it is.

namespace lirvo::test {

void LoadTestServerEnvironment();

}  // namespace lirvo::test

// The development host's stop: takes a running server down within a grace
// period and keeps the promise that the process then exits promptly.
//
//   - The server takes no new calls from the start of the stop.
//   - Calls in flight have the grace to finish. Once none is left, the
//     connections are closed at once: an idle client connection would
//     otherwise hold the server until the grace is over.
//   - When the grace is over, or at a second stop signal, the calls still
//     running are cancelled (their clients see UNAVAILABLE) and only then
//     is the host's stop flag raised, so that the host operations answer
//     at once and the handlers return as soon as they have released what
//     they hold. Cancelling first means that no client sees the refusals
//     those operations then give.

#ifndef ACL_DEVHOST_STOPPER_H_
#define ACL_DEVHOST_STOPPER_H_

#include <signal.h>

#include <chrono>

namespace grpc {
class Server;
}

namespace devhost {

struct Host;

// Shuts `server` down as above and returns once every handler has
// returned; uses a helper thread meanwhile. REQUIRES: called once, on the
// thread that owns the server; `host` serves its calls; `stops` is blocked
// in every thread.
void Stop(grpc::Server* server, Host* host, const sigset_t& stops,
          std::chrono::seconds grace);

}  // namespace devhost

#endif  // ACL_DEVHOST_STOPPER_H_

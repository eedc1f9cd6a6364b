// The development host's stop: takes a running server down within a grace
// period and keeps the promise that the process then exits promptly.
//
//   - The server takes no new calls from the start of the stop.
//   - Calls in flight have the grace to finish. Once none is left, the
//     stopper closes the connections at once: an idle client connection
//     would otherwise hold the server until the grace is over.
//   - When the grace is over, or at a second stop signal, the calls still
//     running are cancelled (their clients see UNAVAILABLE) and only then
//     is the host's stop flag raised, so that the host operations answer
//     at once and the handlers return as soon as they have released what
//     they hold. Cancelling first means that no client sees the refusals
//     those operations then give.
//
// Stop() runs once, on the thread that owns the server; it uses one helper
// thread of its own for as long as it runs.

#ifndef ACL_DEVHOST_STOPPER_H_
#define ACL_DEVHOST_STOPPER_H_

#include <signal.h>

#include <atomic>
#include <chrono>

#include "devhost/call.h"

namespace grpc {
class Server;
}

namespace devhost {

class Stopper {
 public:
  // REQUIRES: everything outlives the stopper; `stops` is blocked in every
  // thread.
  Stopper(grpc::Server* server, const CallTracker* calls,
          std::atomic<bool>* hostStopping, const sigset_t& stops)
      : server_(server),
        calls_(calls),
        hostStopping_(hostStopping),
        stops_(stops) {}

  Stopper(const Stopper&) = delete;
  Stopper& operator=(const Stopper&) = delete;

  // Shuts the server down as above and returns once every handler has
  // returned. REQUIRES: called once.
  void Stop(std::chrono::seconds grace);

 private:
  // The helper thread: closes idle connections, and at the end of the grace
  // cancels what runs and raises the flag; returns once `*done` is set.
  void Watch(std::chrono::steady_clock::time_point deadline,
             const std::atomic<bool>* done);
  bool SecondSignal() const;
  void CancelAll();

  grpc::Server* const server_;
  const CallTracker* const calls_;
  std::atomic<bool>* const hostStopping_;
  const sigset_t stops_;
};

}  // namespace devhost

#endif  // ACL_DEVHOST_STOPPER_H_

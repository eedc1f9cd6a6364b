#include "devhost/stopper.h"

#include <atomic>
#include <thread>

#include <grpc/grpc.h>
#include <grpcpp/server.h>

#include "devhost/host.h"

namespace devhost {

// How often the helper looks at the calls in flight and the signals.
constexpr auto kPoll = std::chrono::milliseconds(20);

void Stop(grpc::Server* server, Host* host, const sigset_t& stops,
          std::chrono::seconds grace) {
  const auto deadline = std::chrono::steady_clock::now() + grace;
  std::atomic<bool> done{false};
  // The helper: closes idle connections, and at the end of the grace (or a
  // second signal) cancels what runs and raises the flag.
  std::thread watch([&] {
    // Idle at two looks in a row: a call that a server thread has just
    // taken from gRPC's queue is counted by then. Shutdown() has begun by
    // the first look, and a cancel before it would only close idle
    // connections.
    bool idleBefore = false;
    const timespec now = {0, 0};
    while (!done.load(std::memory_order_acquire)) {
      std::this_thread::sleep_for(kPoll);
      if (std::chrono::steady_clock::now() >= deadline ||
          sigtimedwait(&stops, nullptr, &now) > 0) {
        grpc_server_cancel_all_calls(server->c_server());
        host->stopping.store(true, std::memory_order_relaxed);
        return;
      }
      const bool idle = host->InFlight() == 0;
      if (idle && idleBefore) {
        grpc_server_cancel_all_calls(server->c_server());  // idle connections
      }
      idleBefore = idle;
    }
  });
  // Returns once every handler has returned: at the latest when the grace
  // is over and the handlers have seen the host's stop flag.
  server->Shutdown(std::chrono::system_clock::now() + grace);
  done.store(true, std::memory_order_release);
  watch.join();
  server->Wait();
}

}  // namespace devhost

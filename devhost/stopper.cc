#include "devhost/stopper.h"

#include <thread>
#include <utility>

#include <grpc/grpc.h>
#include <grpcpp/server.h>

namespace devhost {
namespace {

// How often the helper looks at the calls in flight and the signals.
constexpr auto kPoll = std::chrono::milliseconds(20);

// A thread joined when it goes out of scope.
class JoinedThread {
 public:
  template <typename F>
  explicit JoinedThread(F&& run) : thread_(std::forward<F>(run)) {}
  ~JoinedThread() { thread_.join(); }

 private:
  std::thread thread_;
};

}  // namespace

void Stopper::Stop(std::chrono::seconds grace) {
  const auto deadline = std::chrono::steady_clock::now() + grace;
  std::atomic<bool> done{false};
  {
    JoinedThread watch([this, deadline, &done] { Watch(deadline, &done); });
    // Returns once every handler has returned: at the latest when the
    // grace is over and the handlers have seen the host's stop flag.
    server_->Shutdown(std::chrono::system_clock::now() + grace);
    done.store(true, std::memory_order_release);
  }
  server_->Wait();
}

void Stopper::Watch(std::chrono::steady_clock::time_point deadline,
                    const std::atomic<bool>* done) {
  // Idle at two looks in a row: a call that a server thread has just taken
  // from gRPC's queue is counted by then. Shutdown() has begun by the first
  // look, and a cancel before it would only close idle connections.
  bool idleBefore = false;
  while (!done->load(std::memory_order_acquire)) {
    std::this_thread::sleep_for(kPoll);
    if (std::chrono::steady_clock::now() >= deadline || SecondSignal()) {
      CancelAll();
      hostStopping_->store(true, std::memory_order_relaxed);
      return;
    }
    const bool idle = calls_->InFlight() == 0;
    if (idle && idleBefore) CancelAll();  // closes idle connections
    idleBefore = idle;
  }
}

bool Stopper::SecondSignal() const {
  const timespec now = {0, 0};
  return sigtimedwait(&stops_, nullptr, &now) > 0;
}

void Stopper::CancelAll() { grpc_server_cancel_all_calls(server_->c_server()); }

}  // namespace devhost

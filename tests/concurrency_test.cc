// Many clients at once against one server hosting the module, with the
// development host's lock-free operations behind it (built-in registry,
// value checks, json adapter over the sample configuration, small stream
// pieces). Every method is asked with valid, rejected and unauthorised
// requests, unary and streamed, some streams cancelled by the client
// mid-way. Each reply must equal the answer the same request gets alone.
//
// Built as well under ThreadSanitizer (ACL_TSAN), where it is the race
// check of the module. With ACL_RACY_CANARY defined the session check is
// wrapped by a deliberately racy counter, which the race check must report.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/service_client.h"
#include "devhost/host.h"
#include "service/acl_service.h"
#include "testsupport/devhost_sample.h"
#include "testsupport/every_field.h"

#ifdef ACL_RACY_CANARY
// Linked with --wrap=GRPC_SESSION_IsExisting: every session check of every
// server thread bumps one plain counter.
extern "C" uint16_t __real_GRPC_SESSION_IsExisting(const char* token);
long racyChecks = 0;
extern "C" uint16_t __wrap_GRPC_SESSION_IsExisting(const char* token) {
  ++racyChecks;
  return __real_GRPC_SESSION_IsExisting(token);
}
#endif

namespace {

using acl_client::Outcome;
using google::protobuf::Message;
using google::protobuf::MethodDescriptor;

constexpr char kToken[] = "concurrent";
// Calls go over loopback TCP, not an in-process channel: that way no buffer
// written by one side's inlined gRPC code is read by the other's, which the
// race check could not see ordered through the uninstrumented libraries.
constexpr char kLoopback[] = "127.0.0.1";
constexpr int kThreads = 16;
#ifdef ACL_RACY_CANARY
constexpr int kCallsPerThread = 40;  // enough for the race to show
#else
constexpr int kCallsPerThread = 250;
#endif
constexpr size_t kSplitBytes = 16;

// One call to make: a method, a request, a token, and for a stream the
// number of messages after which the client cancels (0: never).
struct Job {
  const MethodDescriptor* method;
  std::shared_ptr<Message> request;
  const char* token;  // "": none
  int cancelAfter;
  Outcome alone;  // the outcome of the same call made uncancelled, alone
};

std::vector<Job> Jobs() {
  std::vector<Job> jobs;
  for (const MethodDescriptor* method : acl_client::Methods()) {
    std::shared_ptr<Message> empty = NewRequest(*method);
    std::shared_ptr<Message> every = NewRequest(*method, 2);
    jobs.push_back({method, empty, kToken, 0, {}});
    jobs.push_back({method, every, kToken, 0, {}});
    jobs.push_back({method, empty, "stranger", 0, {}});
    jobs.push_back({method, every, "", 0, {}});
    if (method->server_streaming()) {
      for (int after : {1, 3, 10}) {
        jobs.push_back({method, empty, kToken, after, {}});
      }
    }
  }
  return jobs;
}

// A cancelled stream keeps what arrived before the cancel, in order; if
// the cancel came too late the whole answer stands.
bool Fits(const Job& job, const Outcome& got) {
  if (job.cancelAfter == 0 || got.code != grpc::StatusCode::CANCELLED) {
    return got == job.alone;
  }
  return got.results.size() <= job.alone.results.size() &&
         std::equal(got.results.begin(), got.results.end(),
                    job.alone.results.begin());
}

// Makes `job`'s call, cancelling a stream after `cancelAfter` messages.
Outcome Make(const std::shared_ptr<grpc::Channel>& channel, const Job& job,
             int cancelAfter) {
  int seen = 0;
  auto stop = [&](const std::string&) { return ++seen != cancelAfter; };
  return acl_client::Call(channel, *job.method, *job.request,
                          {job.token, 0, stop});
}

// One server, its host set up once and left unchanged while calls run.
TEST(Concurrency, EveryReplyEqualsTheAnswerAlone) {
  devhost::Host& host = devhost::TheHost();
  acl_test::UseBuiltInSample(&host, kToken);
  host.splitBytes = kSplitBytes;
  grpc::ServerBuilder builder;
  host.builder = &builder;
  int port = 0;
  builder.AddListeningPort(kLoopback + std::string(":0"),
                           grpc::InsecureServerCredentials(), &port);
  ASSERT_EQ(ServiceCreate(), 0);
  std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
  ASSERT_NE(server, nullptr);
  const std::shared_ptr<grpc::Channel> channel =
      grpc::CreateChannel(kLoopback + (":" + std::to_string(port)),
                          grpc::InsecureChannelCredentials());

  std::vector<Job> jobs = Jobs();
  int codes[17] = {};
  for (Job& job : jobs) {
    job.alone = Make(channel, job, 0);
    ++codes[job.alone.code];
  }
  // The mix holds accepted, rejected and unauthorised calls.
  EXPECT_GT(codes[grpc::StatusCode::OK], 26);  // every method answers
  EXPECT_GT(codes[grpc::StatusCode::INVALID_ARGUMENT], 0);
  EXPECT_GT(codes[grpc::StatusCode::PERMISSION_DENIED], 26);

  std::atomic<long> checked{0}, cancelled{0};
  std::vector<std::vector<std::string>> wrong(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCallsPerThread; ++i) {
        const Job& job = jobs[(t * 131 + i * 17) % jobs.size()];
        Outcome got = Make(channel, job, job.cancelAfter);
        if (got.code == grpc::StatusCode::CANCELLED) ++cancelled;
        if (!Fits(job, got)) {
          wrong[t].push_back(job.method->name() + " gave " +
                             std::to_string(got.code) + " " + got.message);
        }
        ++checked;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (const auto& list : wrong) {
    for (const std::string& w : list) ADD_FAILURE() << w;
  }
  EXPECT_EQ(checked, kThreads * kCallsPerThread);
  EXPECT_GT(cancelled, 0);
  RecordProperty("concurrent_calls", static_cast<int>(checked));
  std::printf("concurrent calls checked: %ld (%ld cancelled streams)\n",
              checked.load(), cancelled.load());
  server->Shutdown();
  server->Wait();
  server.reset();  // joins the server's threads before the service goes
  ServiceDestroy();
}

}  // namespace

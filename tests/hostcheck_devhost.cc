// The development host as the contract checker's host: its own exported
// operations (devhost/host_ops.cc) over its built-in registry, its value
// checks and its json adapter on the built-in sample configuration.

#include <string>
#include <vector>

#include <grpcpp/server_builder.h>

#include "devhost/host.h"
#include "hostcheck/hostcheck.h"
#include "testsupport/devhost_sample.h"

namespace hostcheck {

bool SetUpHost(const std::vector<std::string>& args, HostFacts* facts,
               std::string* error) {
  if (!args.empty()) {
    *error = "unknown argument \"" + args[0] + "\"";
    return false;
  }
  static constexpr char kToken[] = "hostcheck";
  static constexpr char kGroup[] = "ACL/IPv4BasicRules/Rule/GroupID";
  static constexpr char kSource[] = "ACL/IPv4BasicRules/Rule/SrcIPv4/SrcIPv4Addr";
  devhost::Host& h = devhost::TheHost();
  acl_test::UseBuiltInSample(&h, kToken);
  h.builder = new grpc::ServerBuilder();  // lives as long as the process
  facts->liveToken = kToken;
  facts->accepted = {{"ACL/Base/ProcessingStatus", "1"},
                     {kGroup, "2000"},
                     {kSource, "10.1.1.1"}};
  facts->rejected = {{kGroup, "1"},
                     {kSource, "10.1.1"},
                     {"ACL/NoSuchTable/Column", "1"}};
  return true;
}

}  // namespace hostcheck

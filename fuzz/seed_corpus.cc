// Writes the fuzzers' seed corpora:
//
//   seed_corpus REQUEST_DIR MAC_DIR
//
// REQUEST_DIR gets, for every method of acl.ACLService, the empty request
// and requests with every field set (one and two elements per repeated
// field), each behind a few host scripts (everything accepted, a value
// refused, an allocation failed, the stream cut small), and the requests
// the module's tests send. MAC_DIR gets MAC texts in the forms the tests
// and the hosts use, and the odd ones a "%hhx" reading accepts.
//
// Seeds are made from the schema each time, so they follow it as it
// changes.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>

#include "fuzz/script.h"
#include "tests/every_field.h"

namespace {

using google::protobuf::Message;
using google::protobuf::MethodDescriptor;
using fuzzscript::Script;

constexpr char kService[] = "acl.ACLService";

// Requests the module's tests send: method and text format.
constexpr struct {
  const char* method;
  const char* text;
} kTestRequests[] = {
    {"GetJsonACLBase", "ProcessingStatus: 0"},
    {"GetJsonACLIPv4BasicRules",
     R"(rule { GroupID: 2000 Comment: "c" srcipv4 { SrcIPv4Addr: "10.0.0.1" }
        srcipv4 {} } rule { TimeRange: "t" } rule {})"},
    {"GetJsonACLIPv4BasicRulesStream",
     R"(rule { SrcAny: false Status: 0 Comment: "" })"},
    {"GetJsonACLIPv4AdvanceRules",
     R"(rule { GroupID: 3000 Counting: false
        srcipv4 { SrcIPv4Addr: "10.0.0.1" } })"},
    {"GetJsonACLIPv6NamedAdvanceRules",
     R"(rule { GroupIndex: "edge" RoutingTypeAny: true
        srcipv6 { SrcIPv6Addr: "2001:db8::1" SrcIPv6Prefix: 64 } })"},
    {"GetJsonACLMACRules",
     R"(rule { Counting: false Count: 5000000000
        srcmacaddr { SrcMACMask: "ff-ff-ff-00-00-00" }
        srcmacaddr { SrcMACAddress: "00-1a-2B-3c-4D-5e" }
        dstmacaddr { DstMACAddress: "00-1a-2b-3c-4d" } })"},
    {"GetJsonACLMACNamedRules",
     R"(rule { GroupIndex: "abc" inprotocol { InProtocolTypeMask: "ffff" }
        lsap {} protocol {} })"},
    {"GetJsonACLUserRules",
     R"(rule { srcport {} srcport { SrcPortOp: 2 }
        dstipv4 { DstIPv4Addr: "10.2.0.0" } l4rule { L4Offset: 2 }
        srcipv6 { SrcIPv6Addr: "2001:db8::" SrcIPv6Prefix: 48 } })"},
    {"GetJsonACLPfilterRuleRunInfo",
     "ruleruninfo { AppAclRuleIndex: 1 } ruleruninfo { AppAclRuleIndex: 2 }"},
};

constexpr const char* kMacTexts[] = {
    "00-1a-2B-3c-4D-5e", "ff-ff-ff-00-00-00", "0-1-2-3-4-5",
    "00-1a-2b-3c-4d",    "00:1a:2b:3c:4d:5e", "001a.2b3c.4d5e",
    "0x0a-0X0B-0xc-0-0-0", "0x-1-2-3-4-5",    " 1-\t2-\n3- 4-\v5-\f6",
    "-1-+a--1-+0x-0-f",  "ffffffffffffffff--1-0-0-0-0",
    "1ffffffffffffff00-0-0-0-0-0", "00-11-22-33-44-55-66 tail", "",
};

bool Write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out);
}

// The scripts each request is sent behind.
constexpr const char* kVariants[] = {"accept", "refuse", "oom", "pieces"};

Script VariantScript(size_t variant) {
  Script script;
  switch (variant) {
    case 1:  // some value refused
      script.rejectBelow = 48;
      script.seed = 7;
      break;
    case 2:  // the third tree record not allocated
      script.failAt = 3;
      break;
    case 3:  // a 58-byte answer streamed in pieces of 8
      script.adapter = 60;
      script.split = 7 << 2;
      break;
  }
  return script;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s REQUEST_DIR MAC_DIR\n", argv[0]);
    return 2;
  }
  const std::string requestDir = argv[1], macDir = argv[2];
  const auto* service =
      google::protobuf::DescriptorPool::generated_pool()->FindServiceByName(
          kService);
  auto* factory = google::protobuf::MessageFactory::generated_factory();
  bool ok = true;

  for (int m = 0; m < service->method_count(); ++m) {
    const MethodDescriptor* method = service->method(m);
    const Message* prototype = factory->GetPrototype(method->input_type());
    std::unique_ptr<Message> requests[3] = {
        std::unique_ptr<Message>(prototype->New()),
        std::unique_ptr<Message>(prototype->New()),
        std::unique_ptr<Message>(prototype->New())};
    FillEveryField(requests[1].get(), 1);
    FillEveryField(requests[2].get(), 2);
    for (int r = 0; r < 3; ++r) {
      for (size_t v = 0; v < std::size(kVariants); ++v) {
        Script script = VariantScript(v);
        script.method = static_cast<uint8_t>(m);
        ok &= Write(requestDir + "/" + method->name() + "-" +
                        std::to_string(r) + "-" + kVariants[v],
                    fuzzscript::Encode(script, requests[r]->SerializeAsString()));
      }
    }
    int n = 0;
    for (const auto& t : kTestRequests) {
      if (method->name() != t.method) continue;
      std::unique_ptr<Message> request(prototype->New());
      if (!google::protobuf::TextFormat::ParseFromString(t.text,
                                                         request.get())) {
        std::fprintf(stderr, "bad request text for %s\n", t.method);
        return 1;
      }
      Script script;
      script.method = static_cast<uint8_t>(m);
      ok &= Write(requestDir + "/" + method->name() + "-test" +
                      std::to_string(n++),
                  fuzzscript::Encode(script, request->SerializeAsString()));
    }
  }
  int n = 0;
  for (const char* text : kMacTexts) {
    ok &= Write(macDir + "/mac" + std::to_string(n++), text);
  }
  if (!ok) std::fprintf(stderr, "could not write the seeds\n");
  return ok ? 0 : 1;
}

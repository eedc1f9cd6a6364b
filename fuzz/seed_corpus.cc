// Writes the fuzzers' seed corpora:
//
//   seed_corpus REQUEST_DIR MAC_DIR
//
// REQUEST_DIR gets, for every method of acl.ACLService, the empty request
// and requests with every field set (one and two elements per repeated
// field), each behind a few host scripts (everything accepted, a value
// refused, an allocation failed, the stream cut small). MAC_DIR gets MAC
// texts in the forms the tests and the hosts use, and the edges of a
// "%hhx" reading.
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

#include "fuzz/script.h"
#include "tests/every_field.h"

namespace {

using google::protobuf::Message;
using google::protobuf::MethodDescriptor;
using fuzzscript::Script;

// MAC texts: prefixes, signs, white space, overflow, a text cut short.
constexpr const char* kMacTexts[] = {
    "00-1a-2B-3c-4D-5e",     "ff-ff-ff-00-00-00",     "0-1-2-a-B-f",
    "00-1a-2b-3c-4d",        "00-11-22-33-44-",       "00:1a:2b:3c:4d:5e",
    "001a.2b3c.4d5e",        "0x0a-0X0B-0xc-0-0-0",   "0x0a-0X0B-0xc-00x-0-0",
    "0x-1-0X-3-4-5",         "0xg-1-2-3-4-5",         " 1-\t2-\n3- 4-\v5-\f\r6",
    "1 -2-3-4-5-6",          "-1-+a--1-+0x-0-f",      "+-1-2-3-4-5",
    "- 1-2-3-4-5-6",         "123-4567-89abc-0-0-0",  "ffffffffffffffff--1-0-0-0-0",
    "1ffffffffffffff00--10000000000000000-0-0-0-0",
    "00000000000000000000000ab-0-0-0-0-0",            "00-11-22-33-44-55-66 tail",
    "",
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
      script.seed[0] = 7;
      break;
    case 2:  // the third tree record not allocated
      script.failAt[0] = 3;
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
          "acl.ACLService");
  bool ok = true;

  for (int m = 0; m < service->method_count(); ++m) {
    const MethodDescriptor* method = service->method(m);
    for (int elements = 0; elements < 3; ++elements) {  // 0: empty
      std::unique_ptr<Message> request = NewRequest(*method, elements);
      for (size_t v = 0; v < std::size(kVariants); ++v) {
        Script script = VariantScript(v);
        script.method = static_cast<uint8_t>(m);
        ok &= Write(requestDir + "/" + method->name() + "-" +
                        std::to_string(elements) + "-" + kVariants[v],
                    fuzzscript::Encode(script, "token",
                                       request->SerializeAsString()));
      }
    }
  }
  int n = 0;
  for (const char* text : kMacTexts) {
    ok &= Write(macDir + "/mac" + std::to_string(n++), text);
  }
  if (!ok) std::fprintf(stderr, "could not write the seeds\n");
  return ok ? 0 : 1;
}

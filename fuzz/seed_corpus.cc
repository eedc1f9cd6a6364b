// Writes the fuzzers' seed corpora:
//
//   seed_corpus REQUEST_DIR MAC_DIR
//
// REQUEST_DIR gets, for every method of acl.ACLService, the empty request
// and requests with every field set (one and two elements per repeated
// field), each behind every host script of kVariants: everything accepted,
// and each outcome a hostile or broken host forces. MAC_DIR gets MAC
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
#include <utility>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include "fuzz/script.h"
#include "testsupport/every_field.h"

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

// The scripts each request is sent behind, named; each changes the default
// script (everything accepted, an empty answer) so.
constexpr std::pair<const char*, void (*)(Script&)> kVariants[] = {
    {"accept", [](Script&) {}},
    // Some value refused, with reasons of every length up to all 64 bytes.
    {"refuse", [](Script& s) { s.rejectBelow = 48; s.seed = 7; }},
    {"oom", [](Script& s) { s.failAt = 3; }},  // the third tree record
    {"pieces", [](Script& s) { s.adapter = 60; s.split = 7 << 2; }},
    {"perbyte", [](Script& s) { s.adapter = 255; }},  // pieces of one byte
    {"nulltext", [](Script& s) { s.adapter = 0; }},
    {"nulllist", [](Script& s) { s.adapter = 60; s.split = 1; }},
    {"nopiece", [](Script& s) { s.adapter = 60; s.split = 2; }},
    {"session0", [](Script& s) { s.session = 4; }},
    {"sessionffff", [](Script& s) { s.session = 7; }},
    {"privatecase", [](Script& s) { s.registry = 0x7 | 3 << 3; }},
    {"noroot", [](Script& s) { s.registry = 0; }},
    {"noprivate", [](Script& s) { s.registry = 1; }},
    {"modulecase", [](Script& s) { s.registry = 2; }},
    {"notable", [](Script& s) { s.registry = 3; }},
};

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
      for (const auto& [name, change] : kVariants) {
        Script script;
        change(script);
        script.method = static_cast<uint8_t>(m);
        ok &= Write(requestDir + "/" + method->name() + "-" +
                        std::to_string(elements) + "-" + name,
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

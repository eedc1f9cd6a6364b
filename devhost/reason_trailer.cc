#include "devhost/reason_trailer.h"

#include <string>

#include <grpcpp/server_context.h>

namespace devhost {
namespace {

// `text` with every byte a metadata value cannot carry replaced by '?'.
std::string Printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);  // char's sign varies
    if (byte < 0x20 || byte > 0x7E) c = '?';
  }
  return out;
}

}  // namespace

void AddReasonTrailer(void* call, std::string_view reason) {
  if (reason.empty()) return;
  static_cast<grpc::ServerContext*>(call)->AddTrailingMetadata(
      kReasonTrailerKey, Printable(reason));
}

}  // namespace devhost

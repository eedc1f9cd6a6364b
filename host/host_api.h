// The operations the module calls but does not contain: the host's gRPC
// framework (GRPC_*) and the device's configuration registry (ZORM_*).
//
// The module leaves every one of them undefined; the process that loads the
// module defines and exports them (the device's host, the development host
// in devhost/, or a test host). They are declared with C linkage so that the
// loader resolves them by their plain names.
//
// Threading: handlers call all of them from the gRPC server's threads, many
// at once and with no lock of the module's own; a host must make them safe
// for that.
//
// Ownership, as the module relies on it:
//   - registry nodes are handles owned by the registry; the module keeps and
//     passes them back, never reads inside them and never frees them;
//   - the text returned by GRPC_AdapterGet2Quorvex belongs to the caller and
//     is released with free(), unless it is handed to GRPC_Split_MassiveData;
//   - the piece list returned by GRPC_Split_MassiveData is one heap block
//     released with free(); the pieces stay valid until then;
//   - a value slot filled by ZORM_SetMorValue or ZORM_IPV4_SetMorValue may hold
//     a pointer to registry storage, released through the release function of
//     the type's descriptor (ZORM_GetTypeInfo).

#ifndef ACL_HOST_HOST_API_H_
#define ACL_HOST_HOST_API_H_

#include <cstdint>

namespace grpc {
class ServerBuilder;
}

struct tagGrpcTableOrRow;
struct tagZormMorValue;

// An opaque node of the registry tree (root, module branch, table, ...).
struct tagZormRegNode;

// What the registry knows about one MOR type code. The module reads only
// `release`: called with the pointer a value slot holds, or null when values
// of the type live inside the slot itself (codes 1, 8, 14 and 15 never have
// one).
struct tagZormTypeInfo {
  uint32_t typeCode;
  void (*release)(void* value);
};

extern "C" {

// ---- Host gRPC framework ----------------------------------------------

// The builder the host will build its server from; the module registers its
// service on it. Never null while the host is loading modules.
grpc::ServerBuilder* GRPC_GetServerBuilder();

// 1 when `token` names a live session; any other value means it does not.
uint16_t GRPC_SESSION_IsExisting(const char* token);

// Judges `text` as a value of the column at `path` (such as
// "ACL/Base/ProcessingStatus"). Returns 1 to accept. Any other result rejects
// the value; then `errorText` (`errorSize` bytes, zero-filled by the caller)
// holds the host's reason, NUL-terminated within the buffer.
uint16_t GRPC_CheckValueOfPara(const char* token, const char* path,
                               const char* text, uint32_t errorSize,
                               char* errorText);

// Runs the query the request tree describes and returns the answer as a
// NUL-terminated JSON text on the heap (caller frees), or null for none.
// The adapter only reads the tree; it neither changes nor keeps it.
char* GRPC_AdapterGet2Quorvex(tagGrpcTableOrRow* table, const char* module,
                              const char* token);

// Cuts `text` into pieces. Returns an array of *count + 1 pointers into one
// text: piece i (1..count) runs from pointer i-1 up to, not including,
// pointer i. The array is one heap block released with free(); the caller
// neither uses nor releases `text` afterwards. Null or a count of 0 means
// nothing to send.
char** GRPC_Split_MassiveData(char* text, uint64_t* count);

// ---- Configuration registry -------------------------------------------

tagZormRegNode* ZORM_GetRegTreeRoot();

// The child of `parent` named exactly `name`, or null.
tagZormRegNode* ZORM_GetChildZormRegNode(tagZormRegNode* parent,
                                         const char* name);

// The child of `parent` whose name equals `name` ignoring case, or null.
tagZormRegNode* ZORM_GetChildZormRegNodeIgnoreCase(tagZormRegNode* parent,
                                                   const char* name);

// Fills a value slot from `length` bytes of text (string kinds, MOR type
// codes 6 and 22). The module ignores the result.
int32_t ZORM_SetMorValue(const char* text, uint32_t length,
                         tagZormMorValue* value);

// Fills a value slot from a NUL-terminated IPv4 address text (MOR type
// code 5). The module ignores the result.
int32_t ZORM_IPV4_SetMorValue(const char* text, tagZormMorValue* value);

// The descriptor of a MOR type code; never null for the codes the module
// uses.
const tagZormTypeInfo* ZORM_GetTypeInfo(uint32_t typeCode);

}  // extern "C"

#endif  // ACL_HOST_HOST_API_H_

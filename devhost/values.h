// How the hosts of this project keep column values in a value slot, and the
// MOR type descriptors that go with them. Shared by the development host and
// the module's test host.
//
//   string, name (6, 22):  slot.ptr -> {uint32_t size; char bytes[size + 1]}
//                          (NUL-terminated), one malloc block, released by
//                          the type's release function (free)
//   IPv4 address (5):      slot.bytes[0..3] = the four address bytes in text
//                          order; no release function
//   numbers, bool, MAC:    the value inside the slot; no release function
//
// Thread-safe: no state.

#ifndef ACL_DEVHOST_VALUES_H_
#define ACL_DEVHOST_VALUES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "host/host_api.h"
#include "tree/tree.h"

namespace devhost {

// Stores a copy of `length` bytes of `text` in `slot`. Returns 0, or -1 when
// out of memory (the slot then stays null).
int32_t SetText(const char* text, uint32_t length, tagZormMorValue* slot);

// Stores the dotted IPv4 address `text` in `slot`. Returns 0, or -1 when the
// text is not an address (the slot then stays as it was).
int32_t SetIPv4(const char* text, tagZormMorValue* slot);

// The descriptor of a MOR type code; of code 0 and no release function
// for a code the hosts do not know.
const tagZormTypeInfo* TypeInfo(uint32_t typeCode);

// The value a slot holds, read back.
std::string_view TextOf(const tagZormMorValue& slot);
std::string IPv4Of(const tagZormMorValue& slot);
std::string MACOf(const tagZormMorValue& slot);  // 12 lowercase hex digits

// Address texts as the hosts read them: a dotted IPv4 address; six groups
// of one or two hex digits joined by hyphens ("00-1a-2B-3c-4D-5e"); an IPv6
// address in any of its spellings. Each fills `out` only on success.
bool ParseIPv4(std::string_view text, uint8_t out[4]);
bool ParseMAC(std::string_view text, uint8_t out[6]);
bool ParseIPv6(std::string_view text, uint8_t out[16]);

}  // namespace devhost

#endif  // ACL_DEVHOST_VALUES_H_

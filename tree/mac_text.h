// Reading a MAC address text into the six bytes of a value slot.
//
// The text is six hexadecimal groups joined by single hyphens
// ("00-1a-2B-3c-4D-5e"). Each group is read the way the C library's "%hhx"
// conversion reads it, so that every text keeps the meaning it has always
// had for the adapter:
//
//   group := space* sign? ("0" ("x" | "X")?)? hexdigit*    (at least one
//            digit in all, the "0" of a prefix counting as one)
//   space := " " | "\t" | "\n" | "\v" | "\f" | "\r"
//
// The group's value is what strtoul makes of its sign and digits (a "-"
// negates modulo 2^64; more than 16 significant digits saturate to all
// ones), of which the low 8 bits are kept. An "x" after a leading "0" is
// consumed even when no digit follows it. Text after the sixth group is
// ignored; the text ends at its first NUL.
//
// Allocation-free and stateless; safe from any thread.

#ifndef ACL_TREE_MAC_TEXT_H_
#define ACL_TREE_MAC_TEXT_H_

#include <cstdint>

namespace zorm_mor_value {

// Reads six groups from the NUL-terminated `text` into `out`. Returns false,
// leaving `out` untouched, unless all six are read.
bool ReadMacText(const char* text, uint8_t out[6]);

}  // namespace zorm_mor_value

#endif  // ACL_TREE_MAC_TEXT_H_

// Requests with every field set, for tests and fuzz seeds alike.

#ifndef ACL_TESTS_EVERY_FIELD_H_
#define ACL_TESTS_EVERY_FIELD_H_

#include <google/protobuf/message.h>

// Sets every field of `message`: numbers and booleans to non-zero values,
// strings to a text that reads as an address, each repeated message field to
// `elements` elements, themselves filled the same way.
void FillEveryField(google::protobuf::Message* message, int elements);

#endif  // ACL_TESTS_EVERY_FIELD_H_

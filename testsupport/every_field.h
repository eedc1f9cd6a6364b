// Requests with every field set, for tests and fuzz seeds alike.

#ifndef ACL_TESTSUPPORT_EVERY_FIELD_H_
#define ACL_TESTSUPPORT_EVERY_FIELD_H_

#include <memory>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

// Sets the scalar `field` of `message`: a number or boolean to a non-zero
// value no other field of the message holds (64-bit ones above 32 bits), a
// string to a text that reads as an address.
void SetField(google::protobuf::Message* message,
              const google::protobuf::FieldDescriptor* field);

// Sets every field of `message` as SetField does, and each repeated message
// field to `elements` elements, themselves filled the same way.
void FillEveryField(google::protobuf::Message* message, int elements);

// A request of `method`: empty, or with every field set and `elements`
// elements in every repeated field.
std::unique_ptr<google::protobuf::Message> NewRequest(
    const google::protobuf::MethodDescriptor& method, int elements = 0);

#endif  // ACL_TESTSUPPORT_EVERY_FIELD_H_

#include "testsupport/every_field.h"

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::MessageFactory;

void SetField(Message* message, const FieldDescriptor* f) {
  const auto* reflection = message->GetReflection();
  const uint32_t i = static_cast<uint32_t>(f->index());
  switch (f->cpp_type()) {
    case FieldDescriptor::CPPTYPE_UINT32:
      reflection->SetUInt32(message, f, 100u + i);
      break;
    case FieldDescriptor::CPPTYPE_UINT64:
      reflection->SetUInt64(message, f, 5000000000ull + i);
      break;
    case FieldDescriptor::CPPTYPE_BOOL:
      reflection->SetBool(message, f, true);
      break;
    default: {
      const std::string& name = f->name();
      reflection->SetString(
          message, f,
          name.find("MAC") != std::string::npos ? "00-1a-2b-3c-4d-5e"
          : name.find("IPv6") != std::string::npos ? "2001:db8::1"
                                                     : "10.0.0.1");
    }
  }
}

void FillEveryField(Message* message, int elements) {
  const auto* descriptor = message->GetDescriptor();
  for (int i = 0; i < descriptor->field_count(); ++i) {
    const FieldDescriptor* f = descriptor->field(i);
    if (!f->is_repeated()) {
      SetField(message, f);
      continue;
    }
    for (int e = 0; e < elements; ++e) {
      FillEveryField(message->GetReflection()->AddMessage(message, f),
                     elements);
    }
  }
}

std::unique_ptr<Message> NewRequest(
    const google::protobuf::MethodDescriptor& method, int elements) {
  std::unique_ptr<Message> request(
      MessageFactory::generated_factory()->GetPrototype(method.input_type())
          ->New());
  if (elements > 0) FillEveryField(request.get(), elements);
  return request;
}

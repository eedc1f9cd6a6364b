// Every Table against the generated schema: each field of each request
// message is described exactly once, under its path, and each row's
// accessors read the very field its number names. (A kind that does not fit
// its field's type does not compile.) Then every Table against the
// registry's description: the same numbers and types.

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "proto/acl_tree.pb.h"
#include "tables/tables.h"
#include "testsupport/every_field.h"

namespace {

using acl_tables::Column;
using acl_tables::List;
using acl_tables::Table;
using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;

const Descriptor* RequestOf(const Table& table) {
  return DescriptorPool::generated_pool()->FindMessageTypeByName(
      std::string("acl.ACL") + table.name);
}

// A fresh generated message of `type`.
std::unique_ptr<Message> New(const Descriptor* type) {
  auto* factory = google::protobuf::MessageFactory::generated_factory();
  return std::unique_ptr<Message>(factory->GetPrototype(type)->New());
}

// `column`'s reader against messages of `type`: it finds the field when
// only that field is set, with that field's value, and misses it when every
// other scalar field is set. A reader that names another field than the
// row's number fails one of the two.
void CheckReader(const Descriptor* type, const Column& column) {
  const FieldDescriptor* field = type->FindFieldByNumber(column.field);
  ASSERT_NE(field, nullptr);
  std::unique_ptr<Message> only = New(type), others = New(type);
  SetField(only.get(), field);
  for (int i = 0; i < type->field_count(); ++i) {
    const FieldDescriptor* f = type->field(i);
    if (f != field && !f->is_repeated()) SetField(others.get(), f);
  }
  acl_tables::Value value{};
  ASSERT_TRUE(column.read(*only, &value)) << "reads another field";
  const auto* r = only->GetReflection();
  switch (field->cpp_type()) {
    case FieldDescriptor::CPPTYPE_STRING:
      EXPECT_EQ(*value.text, r->GetString(*only, field));
      break;
    case FieldDescriptor::CPPTYPE_UINT64:
      EXPECT_EQ(value.number, r->GetUInt64(*only, field));
      break;
    default:  // 32-bit numbers and booleans, which SetField sets to non-zero
      EXPECT_EQ(value.number, field->cpp_type() == FieldDescriptor::CPPTYPE_BOOL
                                  ? 1u
                                  : r->GetUInt32(*only, field));
  }
  EXPECT_FALSE(column.read(*others, &value)) << "reads another field";
}

// `list`'s accessors against an `owner` whose every repeated field holds as
// many elements as its number: the size, the elements and the prototype are
// those of the field numbered `list.field`.
void CheckList(const Descriptor* owner, const List& list) {
  const FieldDescriptor* field = owner->FindFieldByNumber(list.field);
  ASSERT_NE(field, nullptr);
  ASSERT_EQ(field->type(), FieldDescriptor::TYPE_MESSAGE);
  std::unique_ptr<Message> message = New(owner);
  const auto* r = message->GetReflection();
  for (int i = 0; i < owner->field_count(); ++i) {
    const FieldDescriptor* f = owner->field(i);
    if (!f->is_repeated()) continue;
    for (int k = 0; k < f->number(); ++k) r->AddMessage(message.get(), f);
  }
  ASSERT_EQ(list.size(*message), field->number()) << "sizes another field";
  for (int i = 0; i < field->number(); ++i) {
    EXPECT_EQ(&list.at(*message, i),
              &r->GetRepeatedMessage(*message, field, i));
  }
  EXPECT_EQ(list.prototype().GetDescriptor(), field->message_type());
  EXPECT_EQ(list.prototype().ByteSizeLong(), 0u);
}

// Checks that `columns` describe exactly the scalar fields of `message`,
// each once, under the path prefix `prefix`.
void CheckColumns(const Descriptor* message, acl_tables::Span<Column> columns,
                  const std::string& prefix) {
  std::set<int> described;
  int previous = 0;
  for (const Column& c : columns) {
    SCOPED_TRACE(c.path);
    const FieldDescriptor* field = message->FindFieldByNumber(c.field);
    ASSERT_NE(field, nullptr);
    EXPECT_GT(c.field, previous) << "columns in field order, each once";
    previous = c.field;
    described.insert(c.field);
    EXPECT_FALSE(field->is_repeated());
    EXPECT_TRUE(field->has_presence());
    EXPECT_EQ(std::string(c.path), prefix + field->name());
    CheckReader(message, c);
  }
  for (int i = 0; i < message->field_count(); ++i) {
    const FieldDescriptor* field = message->field(i);
    if (field->type() == FieldDescriptor::TYPE_MESSAGE) continue;
    EXPECT_TRUE(described.count(field->number()))
        << message->full_name() << "." << field->name() << " not described";
  }
}

// Checks that `table`'s sub-entries describe exactly the repeated message
// fields of `message`, in field order.
void CheckSubEntries(const Table& table, const Descriptor* message,
                     const std::string& prefix) {
  std::vector<int> expected, described;
  for (int i = 0; i < message->field_count(); ++i) {
    if (message->field(i)->type() == FieldDescriptor::TYPE_MESSAGE) {
      expected.push_back(message->field(i)->number());
    }
  }
  for (const acl_tables::SubEntry& sub : table.sub_entries) {
    const FieldDescriptor* field = message->FindFieldByNumber(sub.list.field);
    ASSERT_NE(field, nullptr) << sub.name;
    ASSERT_EQ(field->type(), FieldDescriptor::TYPE_MESSAGE) << sub.name;
    EXPECT_EQ(std::string(sub.name), field->message_type()->name());
    described.push_back(sub.list.field);
    CheckList(message, sub.list);
    CheckColumns(field->message_type(), sub.columns, prefix + sub.name + "/");
  }
  EXPECT_EQ(described, expected) << "sub-entries in field order, each once";
}

TEST(Tables, EveryFieldDescribedOnceAndReadByItsRow) {
  for (const Table* table : acl_tables::kAllTables) {
    SCOPED_TRACE(table->name);
    const Descriptor* request = RequestOf(*table);
    ASSERT_NE(request, nullptr);
    std::string prefix = std::string("ACL/") + table->name + "/";
    const Descriptor* described = request;
    if (table->has_rows()) {
      // A row table's request holds nothing but its repeated row field.
      ASSERT_EQ(request->field_count(), 1);
      const FieldDescriptor* rows =
          request->FindFieldByNumber(table->rows.field);
      ASSERT_NE(rows, nullptr);
      ASSERT_EQ(rows->type(), FieldDescriptor::TYPE_MESSAGE);
      CheckList(request, table->rows);
      described = rows->message_type();
      prefix += described->name() + "/";
    }
    CheckColumns(described, table->columns, prefix);
    CheckSubEntries(*table, described, prefix);
  }
}

// The registry's description (devhost/data/registry.json) and the module's
// tables are written independently; both state every table's number and
// every column's path, number and type code. Each side's entries must all
// be found in the other, alike; the registry lists a table's columns in the
// order of their numbers, so no number is used twice in a table.
TEST(Tables, AgreeWithTheRegistryBothWays) {
  std::ifstream in(ACL_REGISTRY_JSON);
  const nlohmann::json registry = nlohmann::json::parse(in);
  // "Table[/Row][/Sub]/Column" -> "number type", and "Table" -> "number".
  std::map<std::string, std::string> module, described;
  auto entry = [](int number, int type) {
    return std::to_string(number) + " " + std::to_string(type);
  };
  for (const Table* table : acl_tables::kAllTables) {
    module[table->name] = std::to_string(table->number);
    auto add = [&](acl_tables::Span<Column> columns) {
      for (const Column& c : columns) {
        module[c.path + 4] = entry(c.column, c.type_code());  // past "ACL/"
      }
    };
    add(table->columns);
    for (const acl_tables::SubEntry& sub : table->sub_entries) add(sub.columns);
  }
  for (const nlohmann::json& table : registry.at("tables")) {
    const std::string name = table.at("name");
    described[name] = std::to_string(table.at("number").get<int>());
    std::string prefix = name + "/";
    if (table.contains("row")) prefix += table["row"].get<std::string>() + "/";
    int previous = 0;
    for (const nlohmann::json& c : table.at("columns")) {
      const int number = c.at("column");
      EXPECT_GT(number, previous) << name << " lists a column out of order";
      previous = number;
      const std::string sub = c.value("sub", "") + (c.contains("sub") ? "/" : "");
      EXPECT_TRUE(described
                      .emplace(prefix + sub + c.at("name").get<std::string>(),
                               entry(number, c.at("type")))
                      .second);
    }
  }
  for (const auto& [key, value] : module) {
    auto it = described.find(key);
    EXPECT_EQ(it == described.end() ? "none" : it->second, value)
        << key << " in the registry";
  }
  for (const auto& [key, value] : described) {
    EXPECT_TRUE(module.count(key)) << key << " is not in the module's tables";
  }
  EXPECT_EQ(module.size(), 25u + 484u);
}

}  // namespace

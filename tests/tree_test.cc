// The request tree's records: the MAC setter and the release of a tree.

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tests/fault_alloc.h"
#include "tests/test_host.h"
#include "tree/tree.h"

namespace {

using zorm_mor_value::NodePtr;

std::string Bytes(const tagZormMorValue& slot) {
  char text[3 * 8 + 1];
  for (int i = 0; i < 8; ++i) {
    std::snprintf(text + 3 * i, 4, "%02x ", slot.bytes[i]);
  }
  return std::string(text, 3 * 8 - 1);
}

TEST(MacSetter, ParsesSixHyphenGroupsOnly) {
  struct Case {
    const char* text;
    const char* bytes;
  } cases[] = {
      {"00-1a-2B-3c-4D-5e", "00 1a 2b 3c 4d 5e 00 00"},
      {"FF-FF-FF-FF-FF-FF", "ff ff ff ff ff ff 00 00"},
      {"0-1-2-3-4-5", "00 01 02 03 04 05 00 00"},
      {"00-1a-2b-3c-4d-5e-77", "00 1a 2b 3c 4d 5e 00 00"},  // tail ignored
      {"00-1a-2b-3c-4d-5e trailing", "00 1a 2b 3c 4d 5e 00 00"},
      {"001a.2b3c.4d5e", "00 00 00 00 00 00 00 00"},  // dotted
      {"00:1a:2b:3c:4d:5e", "00 00 00 00 00 00 00 00"},  // colons
      {"00-1a-2b-3c-4d", "00 00 00 00 00 00 00 00"},  // five groups
      {"", "00 00 00 00 00 00 00 00"},
  };
  for (const Case& c : cases) {
    tagZormMorValue slot{};
    zorm_mor_value::SetMorValue_XML_MAC(&slot, c.text);
    EXPECT_EQ(Bytes(slot), c.bytes) << c.text;
  }
}

TEST(MacSetter, LeavesTheLastTwoBytesAndFailuresUntouched) {
  tagZormMorValue slot{};
  slot.u64 = 0xAABBCCDDEEFF1122ull;
  zorm_mor_value::SetMorValue_XML_MAC(&slot, "01-02-03-04-05-06");
  EXPECT_EQ(Bytes(slot), "01 02 03 04 05 06 bb aa");
  zorm_mor_value::SetMorValue_XML_MAC(&slot, "not a mac");
  EXPECT_EQ(Bytes(slot), "01 02 03 04 05 06 bb aa");
}

TEST(DeleteTableOrRow, NullDoesNothing) {
  zorm_mor_value::DeleteTableOrRow(nullptr);
}

TEST(DeleteTableOrRow, ReleasesOnlyWhatSlotsOwn) {
  testhost::Reset();
  {
    NodePtr table = zorm_mor_value::MakeNode(zorm_mor_value::kTableNode,
                                             nullptr);
    // A no-value record, a string record with a null slot, a string record
    // owning registry storage, and a number: only the third is released.
    zorm_mor_value::AppendColumn(&table->columnHead, &table->columnTail, 1);
    tagGrpcColumn* empty = zorm_mor_value::AppendColumn(
        &table->columnHead, &table->columnTail, 2);
    empty->noValue = 0;
    empty->typeCode = zorm_mor_value::kTypeString;
    auto entry = zorm_mor_value::MakeSubEntry("Sub");
    tagGrpcColumn* text = zorm_mor_value::AppendColumn(
        &entry->columnHead, &entry->columnTail, 3);
    text->noValue = 0;
    text->typeCode = zorm_mor_value::kTypeName;
    ZORM_SetMorValue("abc", 3, &text->value);
    zorm_mor_value::LinkSubEntryBack(table.get(), std::move(entry));
    for (int i = 0; i < 3; ++i) {  // rows, released along the sibling chain
      NodePtr row = zorm_mor_value::MakeNode(zorm_mor_value::kRowNode,
                                             nullptr);
      tagGrpcColumn* n = zorm_mor_value::AppendColumn(
          &row->columnHead, &row->columnTail, 4);
      n->noValue = 0;
      n->typeCode = zorm_mor_value::kTypeU32;
      n->value.u32 = 7;
      zorm_mor_value::LinkRowFront(table.get(), std::move(row));
    }
    EXPECT_GT(faultalloc::Live(), 0);
  }
  testhost::Record r = testhost::Snapshot();
  EXPECT_EQ(r.releases, 1);
  EXPECT_EQ(r.liveTexts, 0);
  EXPECT_EQ(r.typeInfoCalls, 5);  // never for the no-value record
  EXPECT_EQ(faultalloc::Live(), 0);
}

}  // namespace

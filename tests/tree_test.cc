// The request tree's records: the release of a tree, and the MAC setter
// against sscanf on this machine (fuzzed against it in fuzz/mac_fuzz.cc, on
// the build machine only) for texts where char's sign could matter.

#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tests/fault_alloc.h"
#include "tests/test_host.h"
#include "tree/tree.h"

namespace {

using zorm_mor_value::NodePtr;

TEST(DeleteTableOrRow, ReleasesOnlyWhatSlotsOwn) {
  zorm_mor_value::DeleteTableOrRow(nullptr);  // does nothing
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

TEST(SetMorValueXmlMac, AgreesWithSscanfOnHighBytes) {
  for (const char* text :
       {"00-1a-2B-3c-4D-5e", "\xff-1-2-3-4-5", "1-2-3-4-5-\x80",
        "1-\xe9-2-3-4-5", "-1-2-3-4-5-6", "1-2-3-4-5-6\xc3\xa9",
        "\xa0" "1-2-3-4-5-6", "1-2-3-4-5- \x85" "6"}) {
    tagZormMorValue slot{};
    zorm_mor_value::SetMorValue_XML_MAC(&slot, text);
    unsigned char b[6];
    tagZormMorValue want{};
    if (std::sscanf(text, "%hhx-%hhx-%hhx-%hhx-%hhx-%hhx", &b[0], &b[1],
                    &b[2], &b[3], &b[4], &b[5]) == 6) {
      std::memcpy(want.bytes, b, sizeof(b));
    }
    EXPECT_EQ(slot.u64, want.u64) << text;
  }
}

}  // namespace

// The request tree's records: the release of a tree (the MAC setter is
// fuzzed against sscanf in fuzz/mac_fuzz.cc).

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

}  // namespace

#include <gtest/gtest.h>

#include <cmath>

#include "test_support.hpp"

namespace tavro {
namespace {

using testing::counter_id;
using testing::id_of;
using testing::state;
using testing::update_of;

const Uuid A = id_of('a');
const Uuid B = id_of('b');
const Uuid C = id_of('c');

TEST(NodeUpdateMerge, PresentFieldsReplaceAbsentOnesStay) {
    const char* const full =
        R"({"label":"L","size":2.5,"url":"u","red":1,"green":2,"blue":3,"showLabel":true})";
    const struct {
        const char* earlier;
        const char* later;
        const char* merged;
    } rows[] = {
        {full, "{}", full},  // the empty update is the identity on both sides
        {"{}", full, full},
        {R"({"label":"kept","size":2})", R"({"size":3,"red":10})",
         R"({"label":"kept","size":3.0,"red":10})"},
        // Empty, zero and false are present values and replace.
        {full, R"({"label":"","red":0,"showLabel":false})",
         R"({"label":"","size":2.5,"url":"u","red":0,"green":2,"blue":3,"showLabel":false})"},
    };
    for (const auto& row : rows) {
        NodeUpdate merged = update_of(row.earlier);
        merged += update_of(row.later);
        EXPECT_EQ(testing::json_of(merged), row.merged) << row.earlier << " += " << row.later;
    }
    NodeUpdate nan_size;
    nan_size.size = std::nanf("");
    NodeUpdate merged = update_of(full);
    merged += std::move(nan_size);
    EXPECT_TRUE(merged.size.has_value() && std::isnan(*merged.size));
}

// Each row runs a history of operations on a new diff and compares its counts
// of nodes and of edges (which count sources, not edges) and the whole
// resulting diff (see diff_of() and state() for the notation).
TEST(DiffRules, HistoryTable) {
    const struct {
        const char* name;
        const char* history;
        const char* state;
    } rows[] = {
        {"updates of one node merge into one entry",
         R"(Na{"label":"first","red":7} Na{"label":"second"})",
         R"(1/0: Na{"label":"second","red":7})"},
        {"delete drops the pending change, twice is once", R"(Na{"label":"x"} Da Da)", "1/0: Da"},
        {"update after delete holds only the new update and keeps edge deletions",
         R"(Nb{"red":1} Eab=1 Db Nb{"label":"new"})", R"(1/2: Ea: Nb{"label":"new"} Xa: Xab)"},
        {"later weight replaces earlier", "Eab=1 Eab=3.5", "0/1: Ea: Eab=3.5"},
        {"add cancels its deletion record and drops the emptied source", "Xab Eab=2",
         "0/1: Ea: Eab=2"},
        {"add cancels only its own deletion record", "Xab Xac Eab=2", "0/2: Ea: Eab=2 Xa: Xac"},
        {"delete after add leaves only the deletion record", "Eab=1 Xab", "0/1: Xa: Xab"},
        {"delete of a never pending edge is recorded even with deleted endpoints", "Da Db Xab",
         "2/1: Da Db Xa: Xab"},
        {"delete_edge removes a source whose map was already empty", "Eab=1 Db Xac",
         "1/1: Db Xa: Xab Xac"},
        {"node recreated after delete accepts edges again", "Eab=1 Db Nb{} Eab=4",
         "1/1: Ea: Eab=4 Nb{}"},
        {"delete_node drops outgoing edges, records incoming ones, keeps the emptied map",
         "Eab=2 Ebc=1 Db", "1/2: Db Ea: Xa: Xab"},
        {"self loop is dropped without record", "Eaa=1 Da", "1/0: Da"},
        {"delete_node keeps earlier deletion records of the node", "Xab Xca Da",
         "1/2: Da Xa: Xab Xc: Xca"},
        {"counts count sources", "Eab=1 Eac=1 Eaa=1 Xac Nd{}", "1/2: Ea: Eaa=1 Eab=1 Nd{} Xa: Xac"},
        {"clear returns to the new state", "Na{} Db Eac=1 Xca clear", "0/0:"},
    };
    for (const auto& row : rows) {
        const Diff d = testing::diff_of(row.history);
        std::string result = std::to_string(d.num_nodes()).append("/");
        result.append(std::to_string(d.num_edges())).append(":");
        EXPECT_EQ(state(d).empty() ? result : result.append(" ").append(state(d)), row.state)
            << row.name;
    }
}

TEST(DiffRules, EndpointMarkedDeletedRefusesEdgeAndChangesNothing) {
    for (const Uuid& deleted : {A, B}) {
        Diff d;
        d.delete_edge(A, C);
        d.delete_node(deleted);
        const Diff before = d;
        Result<void> refused = d.add_edge(A, B, 1.0f);
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error().kind, ErrorKind::endpoint_deleted);
        EXPECT_EQ(d, before);
    }
}

// The walk over every source: each one that had an edge into the node gets
// a deletion record while the pending map it walks keeps its other edge.
TEST(DiffRules, DeleteNodeRecordsEveryIncomingEdgeAcrossManySources) {
    Diff d;
    Diff expected;
    for (std::uint64_t n = 0; n < 500; ++n) {
        ASSERT_TRUE(d.add_edge(counter_id(n), C, 1.0f).ok());
        ASSERT_TRUE(d.add_edge(counter_id(n), counter_id(n + 1000), 1.0f).ok());
        ASSERT_TRUE(expected.add_edge(counter_id(n), counter_id(n + 1000), 1.0f).ok());
        expected.delete_edge(counter_id(n), C);
    }
    d.delete_node(C);
    expected.deleted_nodes.insert(C);
    EXPECT_EQ(state(d), state(expected));
}

}  // namespace
}  // namespace tavro

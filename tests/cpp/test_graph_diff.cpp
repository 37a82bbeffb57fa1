#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "test_support.hpp"

namespace tavro {
namespace {

using testing::counter_id;
using testing::id_of;
using testing::label_update;

const Uuid A = id_of(0xa);
const Uuid B = id_of(0xb);
const Uuid C = id_of(0xc);

bool edge_pending(const Diff& d, const Uuid& from, const Uuid& to) {
    auto it = d.edges.new_or_updated.find(from);
    return it != d.edges.new_or_updated.end() && it->second.contains(to);
}

bool edge_deleted(const Diff& d, const Uuid& from, const Uuid& to) {
    auto it = d.edges.deleted.find(from);
    return it != d.edges.deleted.end() && it->second.contains(to);
}

TEST(NodeRules, UpdatesOfOneNodeMergeIntoOneEntry) {
    Diff d;
    d.add_or_update_node(A, label_update("first"));
    NodeUpdate red;
    red.red = 7;
    d.add_or_update_node(A, std::move(red));
    d.add_or_update_node(A, label_update("second"));
    ASSERT_EQ(d.new_or_updated_nodes.size(), 1u);
    const NodeUpdate& stored = d.new_or_updated_nodes.find(A)->second;
    EXPECT_EQ(stored.label, std::optional<std::string>("second"));
    EXPECT_EQ(stored.red, std::optional<std::uint8_t>(7));
}

TEST(NodeRules, DeleteDropsPendingChangeAndMarksDeleted) {
    Diff d;
    d.add_or_update_node(A, label_update("x"));
    d.delete_node(A);
    EXPECT_TRUE(d.new_or_updated_nodes.empty());
    EXPECT_TRUE(d.deleted_nodes.contains(A));
}

TEST(NodeRules, UpdateAfterDeleteHoldsOnlyTheNewUpdateAndKeepsEdgeDeletions) {
    Diff d;
    NodeUpdate old_change;
    old_change.red = 1;
    d.add_or_update_node(B, std::move(old_change));
    ASSERT_TRUE(d.add_edge(A, B, 1.0f).ok());
    d.delete_node(B);
    d.add_or_update_node(B, label_update("new"));
    EXPECT_FALSE(d.deleted_nodes.contains(B));
    const NodeUpdate& stored = d.new_or_updated_nodes.find(B)->second;
    EXPECT_FALSE(stored.red.has_value());
    EXPECT_EQ(stored.label, std::optional<std::string>("new"));
    EXPECT_TRUE(edge_deleted(d, A, B));
}

TEST(NodeRules, DeletingAnUnseenNodeRecordsItOnce) {
    Diff d;
    d.delete_node(A);
    d.delete_node(A);
    EXPECT_EQ(d.num_nodes(), 1u);
}

TEST(EdgeRules, EndpointMarkedDeletedRefusesEdgeAndChangesNothing) {
    for (bool delete_source : {false, true}) {
        Diff d;
        d.delete_edge(A, C);
        d.delete_node(delete_source ? A : B);
        const Diff before = d;
        Result<void> refused = d.add_edge(A, B, 1.0f);
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error().description, "Either from or to nodes are marked to be deleted");
        EXPECT_EQ(refused.error().description.size(), 48u);
        EXPECT_EQ(d, before);
    }
}

TEST(EdgeRules, LaterWeightReplacesEarlier) {
    Diff d;
    ASSERT_TRUE(d.add_edge(A, B, 1.0f).ok());
    ASSERT_TRUE(d.add_edge(A, B, 3.5f).ok());
    EXPECT_EQ(d.edges.new_or_updated.find(A)->second.find(B)->second, 3.5f);
}

TEST(EdgeRules, AddCancelsDeletionRecordAndDropsEmptiedSource) {
    Diff d;
    d.delete_edge(A, B);
    ASSERT_TRUE(d.add_edge(A, B, 2.0f).ok());
    EXPECT_TRUE(edge_pending(d, A, B));
    EXPECT_FALSE(d.edges.deleted.contains(A));

    d.delete_edge(A, B);
    d.delete_edge(A, C);
    ASSERT_TRUE(d.add_edge(A, B, 2.0f).ok());
    EXPECT_TRUE(edge_deleted(d, A, C));
    EXPECT_FALSE(edge_deleted(d, A, B));
}

TEST(EdgeRules, DeleteAfterAddLeavesOnlyTheDeletionRecord) {
    Diff d;
    ASSERT_TRUE(d.add_edge(A, B, 1.0f).ok());
    d.delete_edge(A, B);
    EXPECT_FALSE(d.edges.new_or_updated.contains(A));
    EXPECT_TRUE(edge_deleted(d, A, B));
    EXPECT_EQ(d.num_edges(), 1u);
}

TEST(EdgeRules, DeleteOfNeverPendingEdgeIsRecordedEvenWithDeletedEndpoints) {
    Diff d;
    d.delete_node(A);
    d.delete_node(B);
    d.delete_edge(A, B);
    EXPECT_TRUE(edge_deleted(d, A, B));
}

TEST(EdgeRules, DeleteEdgeRemovesSourceWhoseMapIsEmptyEvenIfAlreadyEmpty) {
    Diff d;
    ASSERT_TRUE(d.add_edge(A, B, 1.0f).ok());
    d.delete_node(B);  // leaves A with an empty pending map
    ASSERT_TRUE(d.edges.new_or_updated.contains(A));
    d.delete_edge(A, C);
    EXPECT_FALSE(d.edges.new_or_updated.contains(A));
}

TEST(EdgeRules, WeightsAreStoredExactly) {
    Diff d;
    const float values[] = {std::numeric_limits<float>::infinity(), -0.0f,
                            std::numeric_limits<float>::denorm_min()};
    std::uint8_t n = 1;
    for (float w : values) {
        ASSERT_TRUE(d.add_edge(A, id_of(n), w).ok());
        float stored = d.edges.new_or_updated.find(A)->second.find(id_of(n))->second;
        EXPECT_EQ(std::signbit(stored), std::signbit(w));
        EXPECT_EQ(stored, w);
        ++n;
    }
    ASSERT_TRUE(d.add_edge(A, C, std::nanf("")).ok());
    EXPECT_TRUE(std::isnan(d.edges.new_or_updated.find(A)->second.find(C)->second));
}

TEST(EdgeRules, NodeRecreatedAfterDeleteAcceptsEdgesAgain) {
    Diff d;
    ASSERT_TRUE(d.add_edge(A, B, 1.0f).ok());
    d.delete_node(B);
    d.add_or_update_node(B, NodeUpdate{});
    ASSERT_TRUE(d.add_edge(A, B, 4.0f).ok());
    EXPECT_TRUE(edge_pending(d, A, B));
    EXPECT_FALSE(d.edges.deleted.contains(A));
}

TEST(DeleteNodeWalk, DropsOutgoingEdgesAndRecordsIncomingOnes) {
    // Pending A->B (weight 2) and B->C; deleting B.
    Diff d;
    ASSERT_TRUE(d.add_edge(A, B, 2.0f).ok());
    ASSERT_TRUE(d.add_edge(B, C, 1.0f).ok());
    d.delete_node(B);
    EXPECT_FALSE(d.edges.new_or_updated.contains(B));
    EXPECT_FALSE(edge_deleted(d, B, C));
    ASSERT_TRUE(d.edges.new_or_updated.contains(A));
    EXPECT_TRUE(d.edges.new_or_updated.find(A)->second.empty());
    ASSERT_TRUE(d.edges.deleted.contains(A));
    EXPECT_EQ(d.edges.deleted.find(A)->second.size(), 1u);
    EXPECT_TRUE(edge_deleted(d, A, B));
    EXPECT_EQ(d.num_edges(), 2u);
    EXPECT_EQ(d.num_nodes(), 1u);
}

TEST(DeleteNodeWalk, SelfLoopIsDroppedWithoutRecord) {
    Diff d;
    ASSERT_TRUE(d.add_edge(A, A, 1.0f).ok());
    d.delete_node(A);
    EXPECT_TRUE(d.edges.new_or_updated.empty());
    EXPECT_TRUE(d.edges.deleted.empty());
}

TEST(DeleteNodeWalk, KeepsEarlierDeletionRecordsOfTheNode) {
    Diff d;
    d.delete_edge(A, B);
    d.delete_edge(C, A);
    d.delete_node(A);
    EXPECT_TRUE(edge_deleted(d, A, B));
    EXPECT_TRUE(edge_deleted(d, C, A));
}

TEST(DeleteNodeWalk, RecordsEveryIncomingEdgeAcrossManySources) {
    Diff d;
    for (std::uint64_t n = 0; n < 500; ++n) {
        ASSERT_TRUE(d.add_edge(counter_id(n), C, 1.0f).ok());
        ASSERT_TRUE(d.add_edge(counter_id(n), counter_id(n + 1000), 1.0f).ok());
    }
    d.delete_node(C);
    EXPECT_EQ(d.edges.deleted.size(), 500u);
    EXPECT_EQ(d.edges.new_or_updated.size(), 500u);
    for (const auto& [source, targets] : d.edges.new_or_updated) {
        EXPECT_EQ(targets.size(), 1u);
    }
}

TEST(Counts, CountSourcesNotEdges) {
    Diff d;
    EXPECT_EQ(d.num_nodes(), 0u);
    EXPECT_EQ(d.num_edges(), 0u);
    ASSERT_TRUE(d.add_edge(A, B, 1.0f).ok());
    ASSERT_TRUE(d.add_edge(A, C, 1.0f).ok());
    ASSERT_TRUE(d.add_edge(A, A, 1.0f).ok());
    EXPECT_EQ(d.num_edges(), 1u);
    d.delete_edge(A, C);
    EXPECT_EQ(d.num_edges(), 2u);
    d.add_or_update_node(A, NodeUpdate{});
    d.delete_node(B);
    EXPECT_EQ(d.num_nodes(), 2u);
}

TEST(Clear, ReturnsDiffToNewState) {
    Diff d;
    d.add_or_update_node(A, label_update("x"));
    d.delete_node(B);
    ASSERT_TRUE(d.add_edge(A, C, 1.0f).ok());
    d.delete_edge(C, A);
    d.clear();
    EXPECT_EQ(d, Diff{});
    EXPECT_EQ(d.num_nodes(), 0u);
    EXPECT_EQ(d.num_edges(), 0u);
}

std::vector<Uuid> source_walk(const Diff& d) {
    std::vector<Uuid> order;
    for (const auto& entry : d.edges.new_or_updated) {
        order.push_back(entry.first);
    }
    return order;
}

TEST(WalkOrder, SameHistoryGivesSameOrderInSeparateDiffs) {
    auto build = [] {
        Diff d;
        for (std::uint64_t n = 0; n < 2000; ++n) {
            (void)d.add_edge(counter_id(n * 7919), counter_id(n), 1.0f);
            if (n % 3 == 0) {
                d.delete_node(counter_id(n / 2));
            }
        }
        return d;
    };
    EXPECT_EQ(source_walk(build()), source_walk(build()));
}

TEST(WalkOrder, HashUsesAllSixteenBytes) {
    for (std::size_t byte = 0; byte < 16; ++byte) {
        Uuid changed = id_of(0);
        changed.bytes[byte] = 1;
        EXPECT_NE(hash_id(changed), hash_id(id_of(0))) << "byte " << byte;
    }
}

}  // namespace
}  // namespace tavro

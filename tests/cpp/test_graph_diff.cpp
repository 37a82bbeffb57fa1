#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "diff_text.hpp"

namespace tavro {
namespace {

using testing::state;

// A history of operations on a new diff, then the counts of nodes and of edges
// (sources) and the whole diff, in the notation of diff_of() and state().
TEST(DiffRules, HistoryTable) {
    // clang-format off
    const std::pair<const char*, const char*> rows[] = {
        {R"(Na{"label":"first","red":7} Na{"label":"second"})", R"(1/0 Na{"label":"second","red":7})"},
        {R"(Na{"label":"x"} Da Da)", "1/0 Da"},  // delete drops the change; twice is once
        // An update after a delete holds only the new update and keeps edge deletions.
        {R"(Nb{"red":1} Eab=1 Db Nb{"label":"new"})", R"(1/2 Ea: Nb{"label":"new"} Xa: Xab)"},
        {"Eab=1 Eab=3.5", "0/1 Ea: Eab=3.5"},
        {"Xab Eab=2", "0/1 Ea: Eab=2"},  // add cancels its deletion record, drops the emptied set
        {"Xab Xac Eab=2", "0/2 Ea: Eab=2 Xa: Xac"},
        {"Eab=1 Xab", "0/1 Xa: Xab"},
        {"Da Db Xab", "2/1 Da Db Xa: Xab"},  // recorded even between deleted nodes
        {"Eab=1 Db Xac", "1/1 Db Xa: Xab Xac"},  // delete_edge drops a map emptied before
        {"Eab=1 Db Nb{} Eab=4", "1/1 Ea: Eab=4 Nb{}"},
        // delete_node drops outgoing edges, records incoming ones, keeps the emptied map.
        {"Eab=2 Ebc=1 Db", "1/2 Db Ea: Xa: Xab"},
        {"Eaa=1 Da", "1/0 Da"},  // a self-loop goes unrecorded
        {"Xab Xca Da", "1/2 Da Xa: Xab Xc: Xca"},
        {"Eab=1 Eac=1 Eaa=1 Xac Nd{}", "1/2 Ea: Eaa=1 Eab=1 Nd{} Xa: Xac"},  // counts count sources
        // An edge with an endpoint marked deleted is refused and changes nothing.
        {"Xab Db Eab=1 Eba=1", "1/1 Db Xa: Xab"},
        {"Na{} Db Eac=1 Xca clear", "0/0"},
    };
    // clang-format on
    for (const auto& [history, expected] : rows) {
        const Diff d = testing::diff_of(history);
        const std::string words = state(d);
        EXPECT_EQ(std::to_string(d.num_nodes()) + "/" + std::to_string(d.num_edges()) +
                      (words.empty() ? "" : " ") + words,
                  expected)
            << history;
    }
}

}  // namespace
}  // namespace tavro

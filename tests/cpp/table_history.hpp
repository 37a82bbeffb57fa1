// A history of table operations run on a table and on std::map side by side,
// shared by the table's unit test (random histories) and its fuzz target
// (histories decoded from the input). Errors come back as text, so that each
// caller reports them its own way.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace tavro::testing {

enum class TableOp : std::uint8_t {
    kTryEmplace,
    kAssign,
    kAppend,
    kErase,
    kFind,
    kEraseClassInWalk,
    kReserve,
    kCopy,
    kClear
};

// `arg` names the key (arg times an odd constant, so keys spread over 64 bits),
// the count to reserve, or for kEraseClassInWalk the class (arg % 7) whose
// keys an erasing walk removes, as delete_node erases while it walks.
struct TableStep {
    TableOp op;
    std::uint64_t arg;
};

// Runs `steps` on `table` (given empty) and on a std::map, checking each
// result and the size after every step, and the whole contents every 1024
// steps and at the end. Returns the first disagreement, or "" and the walk order at
// the end in `order` (key order once the table is in its ordered mode).
template <class Table>
std::string run_against_std_map(const std::vector<TableStep>& steps, Table& table,
                                std::vector<std::uint64_t>& order) {
    std::map<std::uint64_t, std::string> reference;
    const auto same_contents = [&] {
        std::map<std::uint64_t, std::string> walked;
        for (const auto& [key, value] : table) {
            if (!walked.emplace(key, value).second) {
                return false;
            }
        }
        return walked == reference;
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const std::uint64_t key = steps[i].arg * 0x9e3779b97f4a7c15ULL;
        const std::string value = std::to_string(i);
        bool agree = true;
        switch (steps[i].op) {
            case TableOp::kTryEmplace:
                agree = table.try_emplace(key, value).second ==
                        reference.try_emplace(key, value).second;
                break;
            case TableOp::kAssign:
                agree = table.insert_or_assign(key, value).second ==
                        reference.insert_or_assign(key, value).second;
                break;
            case TableOp::kAppend:
                table[key] += "+";
                reference[key] += "+";
                break;
            case TableOp::kErase:
                agree = table.erase(key) == reference.erase(key);
                break;
            case TableOp::kFind: {
                const auto it = table.find(key);
                agree =
                    (it == table.end() ? !reference.contains(key)
                                       : reference.contains(key) && reference[key] == it->second);
                break;
            }
            case TableOp::kEraseClassInWalk:
                for (auto it = table.begin(); it != table.end();) {
                    it = it->first % 7 == steps[i].arg % 7 ? table.erase(it) : std::next(it);
                }
                std::erase_if(reference,
                              [&](const auto& e) { return e.first % 7 == steps[i].arg % 7; });
                break;
            case TableOp::kReserve:
                table.reserve(steps[i].arg);
                break;
            case TableOp::kCopy: {
                Table copy = table;
                agree = copy == table;
                copy[key] += "x";
                agree = agree && !(copy == table);
                table = std::move(copy);
                reference[key] += "x";
                break;
            }
            case TableOp::kClear:
                table.clear();
                reference.clear();
                break;
        }
        if (!agree || table.size() != reference.size() || (i % 1024 == 1023 && !same_contents())) {
            return "step " + std::to_string(i) + " (op " +
                   std::to_string(static_cast<int>(steps[i].op)) + ", arg " +
                   std::to_string(steps[i].arg) + ") disagrees with std::map";
        }
    }
    if (!same_contents()) {
        return "contents differ at the end";
    }
    for (const auto& entry : table) {
        order.push_back(entry.first);
    }
    if (table.is_ordered() && !std::is_sorted(order.begin(), order.end())) {
        return "an ordered table walks out of key order";
    }
    return "";
}

}  // namespace tavro::testing

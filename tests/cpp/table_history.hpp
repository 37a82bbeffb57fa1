// A history of table operations decoded from bytes, run on a table and on
// std::map side by side: the table's unit test feeds it random bytes, its fuzz
// target the fuzzer's input. Three bytes make a step: the operation, then a
// 16-bit argument (a key, taken modulo `keys`, for most operations).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace tavro::testing {

// Mixes integer keys over all 64 bits or, given `values`, keeps that many
// hashes spread over the 64 bits: long shared probe chains and control bytes
// that match for most keys.
struct PickedHash {
    std::uint64_t values = 0;
    std::uint64_t operator()(std::uint64_t key) const noexcept {
        if (values != 0) {
            return key % values * (~std::uint64_t{0} / values);
        }
        key = (key ^ (key >> 33)) * 0xff51afd7ed558ccdULL;
        key = (key ^ (key >> 33)) * 0xc4ceb9fe1a85ec53ULL;
        return key ^ (key >> 33);
    }
};

// Runs the history on `table` (given empty) and a std::map, checking every
// result and the size after every step, and the contents (walked in key
// order once the table is in its ordered mode) every 1024 steps and at the
// end. Returns the first disagreement, or "".
template <class Table>
std::string run_history(std::span<const std::uint8_t> bytes, std::uint64_t keys, Table& table) {
    std::map<std::uint64_t, std::string> reference;
    const auto same_contents = [&] {
        const std::vector<std::pair<std::uint64_t, std::string>> walked(table.begin(), table.end());
        return walked.size() == reference.size() &&
               (!table.is_ordered() || std::is_sorted(walked.begin(), walked.end())) &&
               std::map<std::uint64_t, std::string>(walked.begin(), walked.end()) == reference;
    };
    for (std::size_t i = 0; i + 3 <= bytes.size(); i += 3) {
        const std::uint64_t arg = bytes[i + 1] | std::uint64_t{bytes[i + 2]} << 8;
        const std::uint64_t key = arg % keys * 0x9e3779b97f4a7c15ULL;  // spread over 64 bits
        const std::string value = std::to_string(i);
        bool agree = true;
        switch (bytes[i] % 8) {
            case 0:
            case 1:
                agree = table.try_emplace(key, value).second ==
                        reference.try_emplace(key, value).second;
                break;
            case 2:
                agree = table.insert_or_assign(key, value).second ==
                        reference.insert_or_assign(key, value).second;
                break;
            case 3:
            case 4:
                agree = table.erase(key) == reference.erase(key);
                break;
            case 5: {
                const auto it = table.find(key);
                agree = it == table.end() ? !reference.contains(key)
                                          : reference.contains(key) && reference[key] == it->second;
                break;
            }
            case 6:
                table.try_emplace(key).first->second += "+";
                reference[key] += "+";
                break;
            default:                     // rarer operations, chosen by the argument's low byte
                if (bytes[i + 1] < 4) {  // erase every key, half, a third or a quarter of them
                    std::erase_if(reference, [&, share = bytes[i + 1] + 1u](const auto& e) {
                        return e.first % share == 0 && table.erase(e.first) == 1;
                    });
                } else if (bytes[i + 1] < 8) {
                    table.reserve(static_cast<std::size_t>(arg >> 4));
                } else if (bytes[i + 1] == 10 && bytes[i + 2] < 2) {
                    table.clear();
                    reference.clear();
                }
        }
        if (!agree || table.size() != reference.size() ||
            (i / 3 % 1024 == 1023 && !same_contents())) {
            return "step " + std::to_string(i / 3) + " disagrees with std::map";
        }
    }
    return same_contents() ? "" : "contents differ at the end";
}

}  // namespace tavro::testing

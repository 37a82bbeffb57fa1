// The change recorded for one node: seven optional display attributes. Absent
// is distinct from every value (an empty label, size 0, colour 0 and
// show_label false are all present values). Fields are declared in the order
// that fixes their JSON member order and array position.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tavro {

struct NodeUpdate {
    std::optional<std::string> label;
    std::optional<float> size;
    std::optional<std::string> url;
    std::optional<std::uint8_t> red;
    std::optional<std::uint8_t> green;
    std::optional<std::uint8_t> blue;
    std::optional<bool> show_label;

    // Merge: every field that `later` sets replaces ours (texts move over);
    // every field it leaves absent stays as it was. A merge never clears a
    // field, and the empty update is its identity on either side.
    NodeUpdate& operator+=(NodeUpdate&& later) noexcept {
        take_if_present(label, later.label);
        take_if_present(size, later.size);
        take_if_present(url, later.url);
        take_if_present(red, later.red);
        take_if_present(green, later.green);
        take_if_present(blue, later.blue);
        take_if_present(show_label, later.show_label);
        return *this;
    }

    // Field-wise equality; note that a NaN size never equals itself.
    friend bool operator==(const NodeUpdate&, const NodeUpdate&) = default;

  private:
    template <class F>
    static void take_if_present(std::optional<F>& mine, std::optional<F>& theirs) noexcept {
        if (theirs.has_value()) {
            mine = std::move(theirs);
        }
    }
};

}  // namespace tavro

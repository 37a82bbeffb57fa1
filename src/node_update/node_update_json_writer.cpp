// The writer of the node update JSON text. It runs once per node when a diff
// is written, so it measures the text exactly, grows the caller's buffer once
// and fills it through a pointer, with no per-member appends.
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

#include "node_update/append_room.hpp"
#include "node_update/float_text.hpp"
#include "node_update/json_string_text.hpp"
#include "node_update/node_update_json.hpp"

namespace tavro {
namespace {

std::size_t add_saturating(std::size_t a, std::size_t b) noexcept {
    constexpr std::size_t limit = std::numeric_limits<std::size_t>::max();
    return b > limit - a ? limit : a + b;
}

char* put(char* out, std::string_view text) noexcept {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

std::size_t u8_text_size(std::uint8_t value) noexcept {
    return std::size_t{1} + (value >= 10 ? 1u : 0u) + (value >= 100 ? 1u : 0u);
}

char* put_u8(char* out, std::uint8_t value) noexcept {
    if (value >= 100) {
        *out++ = static_cast<char>('0' + value / 100);
    }
    if (value >= 10) {
        *out++ = static_cast<char>('0' + value / 10 % 10);
    }
    *out++ = static_cast<char>('0' + value % 10);
    return out;
}

constexpr std::string_view null_text = "null";

std::string_view bool_text(bool value) noexcept {
    return value ? std::string_view("true") : std::string_view("false");
}

// The exact text of one update, measured before it is written. The size's
// shortest digits, which its length depends on, are found while measuring
// and kept for writing. The update must outlive this and stay unchanged.
class NodeUpdateJson {
  public:
    explicit NodeUpdateJson(const NodeUpdate& update) noexcept;

    // The length of the text; saturates at the largest size_t.
    std::size_t size() const noexcept { return size_; }

    // Writes exactly size() characters to `out` and returns their end.
    char* write(char* out) const noexcept;

  private:
    const NodeUpdate* update_;
    std::size_t size_;
    Float32Decimal size_decimal_;  // of a finite size
};

NodeUpdateJson::NodeUpdateJson(const NodeUpdate& update) noexcept : update_(&update), size_(2) {
    std::size_t members = 0;
    const auto value_size = [this](const auto& value) -> std::size_t {
        using Value = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<Value, std::string>) {
            return json_string_size(value);
        } else if constexpr (std::is_same_v<Value, float>) {
            if (!std::isfinite(value)) {
                return null_text.size();
            }
            size_decimal_ = float32_decimal(value);
            return float32_text_size(size_decimal_);
        } else if constexpr (std::is_same_v<Value, std::uint8_t>) {
            return u8_text_size(value);
        } else {
            return bool_text(value).size();
        }
    };
    for_each_field(update, [&](auto index, const auto& value) {
        if (value) {
            ++members;
            size_ = add_saturating(size_, node_update_fields[index].json_member.size());
            size_ = add_saturating(size_, value_size(*value));
        }
    });
    // A comma between members.
    size_ = add_saturating(size_, members == 0 ? 0 : members - 1);
}

char* NodeUpdateJson::write(char* out) const noexcept {
    *out++ = '{';
    char* const first = out;
    for_each_field(*update_, [&](auto index, const auto& value) {
        if (!value) {
            return;
        }
        if (out != first) {
            *out++ = ',';
        }
        constexpr std::string_view member = node_update_fields[index].json_member;
        out = put(out, member);
        using Value = std::decay_t<decltype(*value)>;
        if constexpr (std::is_same_v<Value, std::string>) {
            out = write_json_string(*value, out);
        } else if constexpr (std::is_same_v<Value, float>) {
            out = std::isfinite(*value) ? write_float32_text(size_decimal_, out)
                                        : put(out, null_text);
        } else if constexpr (std::is_same_v<Value, std::uint8_t>) {
            out = put_u8(out, *value);
        } else {
            out = put(out, bool_text(*value));
        }
    });
    *out++ = '}';
    return out;
}

}  // namespace

void write_node_update_json(const NodeUpdate& update, std::string& out) {
    const NodeUpdateJson json(update);
    json.write(append_room(out, json.size()));
}

}  // namespace tavro

// The change recorded for one node: seven optional display attributes. Absent
// is distinct from every value (an empty label, size 0, colour 0 and
// show_label false are all present values).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace tavro {

// Every field, once: member name (also its key in the Python dict form),
// value type (which decides how each outside form converts it), JSON key,
// and place in the dict form's order. Declaration order is the JSON member
// order and the element order of the JSON array form.
#define TAVRO_NODE_UPDATE_FIELDS(FIELD)    \
    FIELD(label, std::string, "label", 0)  \
    FIELD(size, float, "size", 2)          \
    FIELD(url, std::string, "url", 1)      \
    FIELD(red, std::uint8_t, "red", 3)     \
    FIELD(green, std::uint8_t, "green", 4) \
    FIELD(blue, std::uint8_t, "blue", 5)   \
    FIELD(show_label, bool, "showLabel", 6)

struct NodeUpdateField {
    std::size_t index;             // in declaration order
    std::string_view name;         // the member, and the key of the dict form
    std::string_view json_key;     // as matched by the reader
    std::string_view json_member;  // the key as the writer opens a member: "key":
    std::size_t dict_position;
};

// Field indices by member name: node_update_field::size is 1.
namespace node_update_field {
#define TAVRO_FIELD_INDEX(member, type, json_key, dict_position) member,
enum : std::size_t { TAVRO_NODE_UPDATE_FIELDS(TAVRO_FIELD_INDEX) };
#undef TAVRO_FIELD_INDEX
}  // namespace node_update_field

#define TAVRO_FIELD_INFO(member, type, json_key, dict_position)   \
    NodeUpdateField{node_update_field::member, #member, json_key, \
                    "\"" json_key "\":", dict_position},
inline constexpr std::array node_update_fields = {TAVRO_NODE_UPDATE_FIELDS(TAVRO_FIELD_INFO)};
#undef TAVRO_FIELD_INFO

struct NodeUpdate {
#define TAVRO_FIELD_MEMBER(member, type, json_key, dict_position) std::optional<type> member;
    TAVRO_NODE_UPDATE_FIELDS(TAVRO_FIELD_MEMBER)
#undef TAVRO_FIELD_MEMBER

    // Merge: every field that `later` sets replaces ours (texts move over);
    // every field it leaves absent stays as it was. A merge never clears a
    // field, and the empty update is its identity on either side.
    NodeUpdate& operator+=(NodeUpdate&& later) noexcept {
#define TAVRO_FIELD_MERGE(member, type, json_key, dict_position) \
    if (later.member.has_value()) {                              \
        member = std::move(later.member);                        \
    }
        TAVRO_NODE_UPDATE_FIELDS(TAVRO_FIELD_MERGE)
#undef TAVRO_FIELD_MERGE
        return *this;
    }

    // Field-wise equality; note that a NaN size never equals itself.
    friend bool operator==(const NodeUpdate&, const NodeUpdate&) = default;
};

// Calls f(index, update.<member>) for every field in declaration order, the
// index as a std::integral_constant so that the field's description
// (node_update_fields[index]) is a compile-time constant in `f`; `update` is a
// NodeUpdate, const or not.
template <class Update, class F>
void for_each_field(Update& update, F&& f) {
#define TAVRO_FIELD_VISIT(member, type, json_key, dict_position) \
    f(std::integral_constant<std::size_t, node_update_field::member>{}, update.member);
    TAVRO_NODE_UPDATE_FIELDS(TAVRO_FIELD_VISIT)
#undef TAVRO_FIELD_VISIT
}

// Calls f(update.<member>) for the field with index `index`.
template <class Update, class F>
void visit_field(Update& update, std::size_t index, F&& f) {
    switch (index) {
#define TAVRO_FIELD_CASE(member, type, json_key, dict_position) \
    case node_update_field::member:                             \
        f(update.member);                                       \
        break;
        TAVRO_NODE_UPDATE_FIELDS(TAVRO_FIELD_CASE)
#undef TAVRO_FIELD_CASE
        default:
            break;
    }
}

#undef TAVRO_NODE_UPDATE_FIELDS

}  // namespace tavro

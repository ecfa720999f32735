// The words an enumeration is written as in reports, on the command line and
// in Python, kept in one table per enumeration and looked up both ways, so
// that a name is spelled in exactly one place.
//
//     constexpr kw::detail::Named<Colour> kColours[] = {{Colour::red, "red"}, ...};
//     const char* name = kw::detail::nameOf(kColours, Colour::red);
//     kw::detail::parseName(kColours, "red", colour);
#ifndef KWSIGNAL_SRC_COMMON_NAME_TABLE_H
#define KWSIGNAL_SRC_COMMON_NAME_TABLE_H

#include <cstddef>
#include <string>
#include <vector>

namespace kw {
namespace detail {

template <typename E>
struct Named {
    E value;
    const char* name;
};

/// The name of value; the table's first name for a value it lacks (an
/// out-of-range cast), so that a report never holds an empty word.
template <typename E, std::size_t N>
const char* nameOf(const Named<E> (&table)[N], E value) {
    for (const Named<E>& n : table)
        if (n.value == value) return n.name;
    return table[0].name;
}

/// Sets value to the entry called name; false (value untouched) for a name
/// the table lacks. Names are compared exactly.
template <typename E, std::size_t N>
bool parseName(const Named<E> (&table)[N], const std::string& name, E& value) {
    for (const Named<E>& n : table)
        if (name == n.name) {
            value = n.value;
            return true;
        }
    return false;
}

/// Every name, in table order (for the command line's choices and error
/// messages).
template <typename E, std::size_t N>
std::vector<std::string> namesOf(const Named<E> (&table)[N]) {
    std::vector<std::string> names;
    for (const Named<E>& n : table) names.emplace_back(n.name);
    return names;
}

}  // namespace detail
}  // namespace kw

#endif

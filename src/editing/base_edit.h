// The base-editing table in edit.json and base_edit.tsv.
#ifndef KWSIGNAL_SRC_EDITING_BASE_EDIT_H
#define KWSIGNAL_SRC_EDITING_BASE_EDIT_H

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "kwsignal/edit.h"

namespace kw::detail {

// One object per protospacer base: guide, guide_position, position,
// reference, aligned, fraction {A,C,G,T}, p_value {A,C,G,T}.
nlohmann::ordered_json baseEditJson(const std::vector<kw::BaseEditPosition>& table);

// A header and one row per protospacer base.
std::string baseEditTsv(const std::vector<kw::BaseEditPosition>& table);

}  // namespace kw::detail

#endif

#pragma once

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

namespace cadenzo {

// Whether a value nests at most `maxDepth` levels (a scalar is level 0) and,
// when asked, could be written back as JSON text. Walked without recursion:
// copying or writing a value recurses, so a value from outside is measured
// before it is copied.
inline bool jsonWithinLimits(const nlohmann::json& root, std::size_t maxDepth, bool requireWritable) {
    using nlohmann::json;
    std::vector<std::pair<const json*, std::size_t>> pending{{&root, 0}};
    while (!pending.empty()) {
        auto [value, depth] = pending.back();
        pending.pop_back();
        switch (value->type()) {
        case json::value_t::array:
        case json::value_t::object:
            if (depth + 1 > maxDepth) return false;
            for (const json& child : *value) pending.emplace_back(&child, depth + 1);
            break;
        case json::value_t::number_float:
            if (requireWritable && !std::isfinite(value->get<double>())) return false;
            break;
        case json::value_t::binary:
        case json::value_t::discarded:
            if (requireWritable) return false;
            break;
        default:
            break;
        }
    }
    return true;
}

} // namespace cadenzo

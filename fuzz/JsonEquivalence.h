// The value JSON text can carry for a parsed value: the writer puts null where a number is not
// finite, so the fuzz targets compare round trips through this form.
#pragma once

#include <cmath>

#include "protocol/Json.h"

namespace kelvora::fuzz {

// A copy of the value with every NaN and infinity replaced by null, at every depth.
inline protocol::Json Carried(const protocol::Json& value) {
  if (value.is_number_float() && !std::isfinite(value.get<double>())) return nullptr;
  if (!value.is_structured()) return value;
  protocol::Json copy = value.is_object() ? protocol::Json::object() : protocol::Json::array();
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (value.is_object()) {
      copy[it.key()] = Carried(it.value());
    } else {
      copy.push_back(Carried(it.value()));
    }
  }
  return copy;
}

}  // namespace kelvora::fuzz

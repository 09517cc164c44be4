#pragma once

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <type_traits>

namespace halvik {

// A field of a JSON record read from disk, when it is there with the wanted type (a string, an
// integer, or a finite number): a record a crash cut short, another version wrote or a hand
// damaged gives nothing for what it lacks, never an exception.
template <class T>
std::optional<T> JsonField(const nlohmann::json& record, const char* key) {
  if (!record.is_object()) return std::nullopt;
  const auto it = record.find(key);
  if (it == record.end()) return std::nullopt;
  if constexpr (std::is_same_v<T, std::string>) {
    if (!it->is_string()) return std::nullopt;
  } else if constexpr (std::is_integral_v<T>) {
    if (!it->is_number_integer()) return std::nullopt;
  } else {
    static_assert(std::is_floating_point_v<T>);
    if (!it->is_number() || !std::isfinite(it->template get<T>())) return std::nullopt;
  }
  return it->template get<T>();
}

}  // namespace halvik

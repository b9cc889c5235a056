#pragma once

#include <QString>
#include <string_view>

namespace quorvex {

// The device code speaks UTF-8 in std::string_view, which need not end in a null: the length
// goes along with the bytes.
inline QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace quorvex

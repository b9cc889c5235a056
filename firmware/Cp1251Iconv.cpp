#include <iconv.h>

#include <cerrno>
#include <string>

#include "Cp1251.h"

namespace quorvex {

std::string DecodeCp1251(std::string_view bytes) {
  iconv_t cd = iconv_open("UTF-8", "CP1251");
  if (cd == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr): iconv's own
    return std::string(bytes);                // failure value
  }
  std::string out;
  out.resize(bytes.size() * 3 + 3);
  char* in = const_cast<char*>(bytes.data());
  std::size_t inLeft = bytes.size();
  char* dst = out.data();
  std::size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<std::size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) break;
    // A byte without a character: show the replacement character and go on.
    if (outLeft < 3) break;
    *dst++ = '\xEF';
    *dst++ = '\xBF';
    *dst++ = '\xBD';
    outLeft -= 3;
    ++in;
    --inLeft;
  }
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

std::optional<std::string> EncodeCp1251(std::string_view utf8) {
  iconv_t cd = iconv_open("CP1251", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr): iconv's own
    return std::nullopt;                      // failure value
  }
  // One byte a character at most, so the output never outgrows the input.
  std::string out(utf8.size(), '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* dst = out.data();
  std::size_t outLeft = out.size();
  // A character without a place in the code page, or bytes that are not UTF-8: no text.
  const bool converted = iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  if (!converted || inLeft != 0) return std::nullopt;
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace quorvex

#include "Operator.h"

namespace quorvex {

void ShowException(Operator& op, std::string_view text) {
  std::string shown(text);
  if (!shown.empty() && static_cast<unsigned char>(shown.back()) > '.') shown += '.';
  op.MessageBox(shown, kApplicationTitle, kMbOk | kMbIconError);
}

}  // namespace quorvex

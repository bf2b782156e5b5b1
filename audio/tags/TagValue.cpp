#include "audio/tags/TagValue.h"

#include "audio/core/TextCodec.h"

namespace lirvo {

namespace {

bool NumberMatchesText(int32_t Number, const std::string& Text) {
  const std::string trimmed = Trim(Text);
  // Two different defaults tell "parses to Number" from "does not parse".
  return StrToIntDef(trimmed, 0) == Number && StrToIntDef(trimmed, 1) == Number;
}

}  // namespace

bool SameTagValue(const TTagValue& A, const TTagValue& B) {
  if (A.IsNull() || B.IsNull()) return A.IsNull() && B.IsNull();
  if (A.IsInteger() && B.IsInteger()) return A.Integer() == B.Integer();
  if (A.IsString() && B.IsString()) return A.Text() == B.Text();
  if (A.IsInteger()) return NumberMatchesText(A.Integer(), B.Text());
  return NumberMatchesText(B.Integer(), A.Text());
}

}  // namespace lirvo

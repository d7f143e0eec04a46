#include "protocol/Utf8.h"

namespace quillet::protocol {

char32_t DecodeUtf8(std::string_view text, std::size_t i, std::size_t* length) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  *length = 1;
  if (lead < 0x80) return lead;
  std::size_t need = lead >= 0xC2 && lead <= 0xDF   ? 2
                     : lead >= 0xE0 && lead <= 0xEF ? 3
                     : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                    : 0;
  if (need == 0) return kInvalidCodePoint;
  // The second byte's range rules out overlong forms and code points past U+10FFFF; the
  // surrogates (lead ED) pass, to be told apart by their value.
  unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
  char32_t code = lead & (0x7F >> need);
  for (std::size_t k = 1; k < need; ++k) {
    if (i + k >= text.size()) return kInvalidCodePoint;
    unsigned char c = byte(i + k);
    if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return kInvalidCodePoint;
    code = (code << 6) | (c & 0x3F);
    *length = k + 1;
  }
  return code;
}

}  // namespace quillet::protocol

#include "utf8.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace utf8 {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

/// Index of the first byte at or after text[i] that is not ASCII (taken
/// eight at a time), or text.size().
std::size_t skip_ascii(std::string_view text, std::size_t i) {
  constexpr std::uint64_t kHighs = 0x8080808080808080;
  if constexpr (std::endian::native == std::endian::little) {
    for (std::uint64_t word; i + 8 <= text.size(); i += 8) {
      std::memcpy(&word, text.data() + i, sizeof word);
      if ((word & kHighs) != 0) return i + static_cast<std::size_t>(std::countr_zero(word & kHighs)) / 8;
    }
  }
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  return i;
}

}  // namespace

std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    if (lead == 0xE0) lo = 0xA0;  // overlong
    if (lead == 0xED) hi = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    if (lead == 0xF0) lo = 0x90;  // overlong
    if (lead == 0xF4) hi = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - i < len) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  return len;
}

bool is_valid_utf8(std::string_view text) {
  // Runs of ASCII are the common case; skip them without decoding.
  for (std::size_t i = skip_ascii(text, 0); i < text.size(); i = skip_ascii(text, i)) {
    std::size_t len = utf8_sequence_length(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::size_t control_length(std::string_view text, std::size_t i) {
  auto b = static_cast<unsigned char>(text[i]);
  if (b < 0x20 || b == 0x7F) return 1;
  if (b < 0x80) return 0;
  std::size_t length = utf8_sequence_length(text, i);
  if (length == 0) return 1;
  return b == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F ? 2 : 0;
}

std::string escape_controls(std::string_view text, std::string_view kept) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t control = control_length(text, i);
    if (control == 0) {
      std::size_t length = static_cast<unsigned char>(text[i]) < 0x80 ? 1 : utf8_sequence_length(text, i);
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    if (control == 1 && kept.find(text[i]) != std::string_view::npos) {
      out.push_back(text[i++]);
      continue;
    }
    for (std::size_t end = i + control; i < end; ++i) {
      auto b = static_cast<unsigned char>(text[i]);
      out += {'\\', 'x', kDigits[b >> 4], kDigits[b & 15]};
    }
  }
  return out;
}

std::string sanitize_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t len = utf8_sequence_length(text, i);
    if (len == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text.substr(i, len));
      i += len;
    }
  }
  return out;
}

char32_t next_code_point(std::string_view text, std::size_t& i) {
  std::size_t len = utf8_sequence_length(text, i);
  if (len == 0) {
    ++i;
    return kReplacement;
  }
  auto b = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(text[i + k])); };
  char32_t cp = len == 1 ? b(0) : len == 2 ? (b(0) & 0x1F) : len == 3 ? (b(0) & 0x0F) : (b(0) & 0x07);
  for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (b(k) & 0x3F);
  i += len;
  return cp;
}

char32_t previous_code_point(std::string_view text, std::size_t& end) {
  std::size_t start = end - 1;
  while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
  std::size_t at = start;
  if (utf8_sequence_length(text, start) == end - start) {
    end = start;
    return next_code_point(text, at);
  }
  --end;
  return kReplacement;
}

std::size_t encode_utf8(char32_t cp, char* out) {
  auto byte = [](char32_t bits) { return static_cast<char>(bits); };
  if (cp < 0x80) {
    out[0] = byte(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = byte(0xC0 | (cp >> 6));
    out[1] = byte(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000 && (cp < 0xD800 || cp > 0xDFFF)) {
    out[0] = byte(0xE0 | (cp >> 12));
    out[1] = byte(0x80 | ((cp >> 6) & 0x3F));
    out[2] = byte(0x80 | (cp & 0x3F));
    return 3;
  }
  if (cp >= 0x10000 && cp < 0x110000) {
    out[0] = byte(0xF0 | (cp >> 18));
    out[1] = byte(0x80 | ((cp >> 12) & 0x3F));
    out[2] = byte(0x80 | ((cp >> 6) & 0x3F));
    out[3] = byte(0x80 | (cp & 0x3F));
    return 4;
  }
  return encode_utf8(kReplacement, out);
}

void append_utf8(std::string& out, char32_t cp) {
  char bytes[4];
  out.append(bytes, encode_utf8(cp, bytes));
}

}  // namespace utf8

// UTF-8 helpers and the White_Space table. Decoding is lenient (bad bytes
// become U+FFFD) because callers either validated the text already or only
// need to step over characters.
#include "base/unicode.h"

#include <cctype>

namespace zeviziz {

bool is_white_space(char32_t ch) {
  if (ch <= 0x20) return ch == 0x20 || (ch >= 0x09 && ch <= 0x0D);
  if (ch < 0x85) return false;
  switch (ch) {
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return ch >= 0x2000 && ch <= 0x200A;
  }
}

size_t utf8_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

char32_t decode_utf8(std::string_view text, size_t& pos) {
  const unsigned char lead = static_cast<unsigned char>(text[pos]);
  const size_t length = utf8_length(lead);
  if (length == 1) {
    ++pos;
    return lead < 0x80 ? lead : 0xFFFD;
  }
  if (pos + length > text.size()) {
    ++pos;
    return 0xFFFD;
  }
  char32_t ch = lead & (0xFF >> (length + 1));
  for (size_t i = 1; i < length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[pos + i]);
    if ((byte & 0xC0) != 0x80) {
      ++pos;
      return 0xFFFD;
    }
    ch = (ch << 6) | (byte & 0x3F);
  }
  static constexpr char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (ch < kMin[length] || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF)) {
    ++pos;
    return 0xFFFD;
  }
  pos += length;
  return ch;
}

void append_utf8(std::string& out, char32_t ch) {
  if (ch < 0x80) {
    out.push_back(static_cast<char>(ch));
  } else if (ch < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (ch >> 6)));
    out.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
  } else if (ch < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (ch >> 12)));
    out.push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (ch >> 18)));
    out.push_back(static_cast<char>(0x80 | ((ch >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((ch >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (ch & 0x3F)));
  }
}

// Returns the length of the valid sequence at `pos`, or 0 when it is invalid.
static size_t valid_sequence_length(std::string_view text, size_t pos) {
  const unsigned char lead = static_cast<unsigned char>(text[pos]);
  if (lead < 0x80) return 1;
  size_t probe = pos;
  const char32_t ch = decode_utf8(text, probe);
  if (ch == 0xFFFD && probe == pos + 1) return 0;
  return probe - pos;
}

bool is_valid_utf8(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t length = valid_sequence_length(text, pos);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

std::string sanitize_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t length = valid_sequence_length(text, pos);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++pos;
    } else {
      out.append(text.substr(pos, length));
      pos += length;
    }
  }
  return out;
}

std::string_view trim_white_space(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    size_t next = begin;
    if (!is_white_space(decode_utf8(text, next))) break;
    begin = next;
  }
  size_t end = text.size();
  while (end > begin) {
    size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    size_t probe = start;
    if (!is_white_space(decode_utf8(text, probe)) || probe != end) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

size_t count_chars(std::string_view text) {
  size_t count = 0;
  for (char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
  }
  return count;
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool is_ws(char32_t ch) {
  return ch <= 0x10FFFF && is_white_space(ch);
}

bool is_ascii_letter(char32_t ch) {
  return (ch >= U'a' && ch <= U'z') || (ch >= U'A' && ch <= U'Z');
}

bool is_ascii_digit(char32_t ch) {
  return ch >= U'0' && ch <= U'9';
}

bool is_name_char(char32_t ch) {
  if (ch < 0x80) return is_ascii_letter(ch) || is_ascii_digit(ch) || ch == U'-' || ch == U'_';
  return ch <= 0x10FFFF && !is_white_space(ch);
}

bool is_an_plus_b_word(std::string_view text, size_t pos) {
  size_t end = pos;
  while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) ||
                               text[end] == '+' || text[end] == '-')) {
    ++end;
  }
  const std::string word = ascii_lower(text.substr(pos, end - pos));
  if (word == "odd" || word == "even") return true;
  return word.find_first_not_of("0123456789n+-") == std::string::npos;
}

}  // namespace zeviziz

// Specificity from selector text. A small recursive reader follows the
// selector grammar of nested rules one character at a time with one
// character of lookahead and adds up the record as it goes: element names,
// ids, classes and attribute selectors count where they start, a combinator
// where it is read, a pseudo-class once its name and argument are read (its
// argument is a selector list read by the same functions). Selector lists
// keep the largest alternative (each triple compared on its own). The
// reader stops at the first character the grammar refuses; everything begun
// before it still counts, exactly as if the parts read had formed a tree.
// Every counter saturates instead of wrapping.
#include "css/selector_weight.h"

#include <algorithm>
#include <limits>
#include <string>
#include <tuple>

#include "base/unicode.h"

namespace zeviziz {
namespace {

constexpr char32_t kEnd = 0xFFFFFFFF;
constexpr char32_t kBad = 0xFFFFFFFE;
// Pseudo-class arguments nest at most this deep; a deeper one is refused.
constexpr int kMaxDepth = 64;

template <typename T>
T saturating_add(T a, T b) {
  const T max = std::numeric_limits<T>::max();
  return a > max - b ? max : static_cast<T>(a + b);
}

void accumulate(Specificity& a, const Specificity& b) {
  a.ids = saturating_add(a.ids, b.ids);
  a.classes = saturating_add(a.classes, b.classes);
  a.elements = saturating_add(a.elements, b.elements);
  a.ids_all = saturating_add(a.ids_all, b.ids_all);
  a.classes_all = saturating_add(a.classes_all, b.classes_all);
  a.elements_all = saturating_add(a.elements_all, b.elements_all);
  a.where_count = saturating_add(a.where_count, b.where_count);
  a.combinators = saturating_add(a.combinators, b.combinators);
  a.codes.insert(a.codes.end(), b.codes.begin(), b.codes.end());
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

void set_triples(Specificity& record, uint16_t ids, uint16_t classes, uint16_t elements) {
  record.ids = record.ids_all = ids;
  record.classes = record.classes_all = classes;
  record.elements = record.elements_all = elements;
}

// Copies both triples of `argument` into `record`, adding `extra_classes`
// and `extra_elements`.
void copy_triples(Specificity& record, const Specificity& argument, uint16_t extra_classes,
                  uint16_t extra_elements) {
  record.ids = argument.ids;
  record.classes = saturating_add(argument.classes, extra_classes);
  record.elements = saturating_add(argument.elements, extra_elements);
  record.ids_all = argument.ids_all;
  record.classes_all = saturating_add(argument.classes_all, extra_classes);
  record.elements_all = saturating_add(argument.elements_all, extra_elements);
}

uint16_t pseudo_class_code(std::string_view name) {
  if (equals_ignoring_case(name, "focus")) return 71;
  if (equals_ignoring_case(name, "hover")) return 72;
  if (equals_ignoring_case(name, "active")) return 73;
  return 70;
}

bool is_escapable(char32_t ch) {
  return ch != kEnd && ch != kBad && ch != U'\n' && ch != U'\r' && ch != U'\f';
}
bool is_simple_start(char32_t ch) {
  return ch == U'#' || ch == U'&' || ch == U'*' || ch == U'.' || ch == U':' || ch == U'[' ||
         ch == U'_' || is_ascii_letter(ch);
}
bool is_combinator_char(char32_t ch) {
  return ch == U'>' || ch == U'+' || ch == U'~';
}

// The character at byte `pos` and its length: kEnd past the text, kBad (one
// byte) for NUL and malformed UTF-8.
char32_t char_at(std::string_view text, size_t pos, size_t& length) {
  if (pos >= text.size()) {
    length = 0;
    return kEnd;
  }
  const auto lead = static_cast<unsigned char>(text[pos]);
  length = 1;
  if (lead < 0x80) return lead == 0 ? kBad : lead;
  size_t next = pos;
  const char32_t ch = decode_utf8(text, next);
  if (ch == 0xFFFD && text.substr(pos, 3) != "\xEF\xBF\xBD") return kBad;
  length = next - pos;
  return ch;
}

enum class ListMode { Nested, List, Relative, Compound };

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) { jump_to(0); }

  // Reads a selector list up to its terminator ("{" for Nested, ")"
  // otherwise, not consumed) and folds its alternatives into `list`.
  bool read_list(ListMode mode, Specificity& list) {
    Specificity alternative;
    const bool ok = read_alternatives(mode, list, alternative);
    close_alternative(list, alternative);
    return ok;
  }

 private:
  void advance() {
    pos_ += cur_len_;
    cur_ = next_;
    cur_len_ = next_len_;
    next_ = char_at(text_, pos_ + cur_len_, next_len_);
  }
  void jump_to(size_t pos) {
    pos_ = pos;
    cur_ = char_at(text_, pos_, cur_len_);
    next_ = char_at(text_, pos_ + cur_len_, next_len_);
  }
  void skip_white_space() {
    while (is_ws(cur_)) advance();
  }

  // Name characters and escapes; false when there is none. `split`, when
  // given, counts the escaped `split_char` characters: in a class or id
  // name an escaped "." or "#" begins another class or id, as in the tree.
  bool take_name_run(char32_t split_char = kEnd, uint16_t* split = nullptr) {
    const size_t start = pos_;
    while (true) {
      if (is_name_char(cur_)) {
        advance();
      } else if (cur_ == U'\\' && is_escapable(next_)) {
        if (split != nullptr && next_ == split_char) *split = saturating_add<uint16_t>(*split, 1);
        advance();
        advance();
      } else {
        return pos_ != start;
      }
    }
  }

  bool take_string() {
    const char32_t quote = cur_;
    advance();
    while (cur_ != quote) {
      if (cur_ == kEnd || cur_ == kBad) return false;
      if (cur_ == U'\\') {
        advance();
        if (cur_ == kEnd || cur_ == kBad) return false;
      }
      advance();
    }
    advance();
    return true;
  }

  bool take_comment() {
    advance();
    advance();
    while (!(cur_ == U'*' && next_ == U'/')) {
      if (cur_ == kEnd || cur_ == kBad) return false;
      advance();
    }
    advance();
    advance();
    return true;
  }

  // A parenthesised group read flat: strings, comments and escapes inside
  // are atomic, only parentheses are counted.
  bool take_flat_group() {
    advance();
    for (int depth = 1; !(cur_ == U')' && depth == 1);) {
      if (cur_ == kEnd || cur_ == kBad) return false;
      if (cur_ == U'"' || cur_ == U'\'') {
        if (!take_string()) return false;
        continue;
      }
      if (cur_ == U'/' && next_ == U'*') {
        if (!take_comment()) return false;
        continue;
      }
      if (cur_ == U'\\') {
        advance();
        if (cur_ == kEnd || cur_ == kBad) return false;
        advance();
        continue;
      }
      depth += cur_ == U'(' ? 1 : cur_ == U')' ? -1 : 0;
      advance();
    }
    advance();
    return true;
  }

  // White space and comments between selector parts.
  bool read_gap(bool& has_white_space) {
    while (true) {
      if (is_ws(cur_)) {
        has_white_space = true;
        advance();
      } else if (cur_ == U'/' && next_ == U'*') {
        if (!take_comment()) return false;
      } else {
        return true;
      }
    }
  }

  bool read_alternatives(ListMode mode, Specificity& list, Specificity& alternative) {
    const char32_t terminator = mode == ListMode::Nested ? U'{' : U')';
    const bool compound_only = mode == ListMode::Compound;
    const bool relative = mode == ListMode::Nested || mode == ListMode::Relative;
    enum class State : uint8_t { Start, AfterCombinator, AfterCompound } state = State::Start;
    bool gap_white = false;
    while (true) {
      const char32_t c = cur_;
      if (is_ws(c) || (c == U'/' && next_ == U'*')) {
        if (!read_gap(gap_white)) return false;
      } else if (c == terminator) {
        return state == State::AfterCompound;
      } else if (c == U',' && !compound_only) {
        if (state != State::AfterCompound) return false;
        close_alternative(list, alternative);
        advance();
        gap_white = false;
        state = State::Start;
      } else if (is_combinator_char(c) && !compound_only) {
        if (state == State::AfterCombinator || (state == State::Start && !relative)) return false;
        alternative.combinators = saturating_add<uint64_t>(alternative.combinators, 1);
        advance();
        gap_white = false;
        state = State::AfterCombinator;
      } else if (is_simple_start(c)) {
        if (state == State::AfterCompound) {
          if (compound_only || !gap_white) return false;
          // White space between two compounds is a descendant combinator.
          alternative.combinators = saturating_add<uint64_t>(alternative.combinators, 1);
        }
        gap_white = false;
        if (!read_compound(alternative)) return false;
        state = State::AfterCompound;
      } else {
        return false;
      }
    }
  }

  // Simple selectors without white space between them. "*" and an element
  // name only come first; "*" and "&" may not be followed by a name
  // character.
  bool read_compound(Specificity& record) {
    bool first = true;
    while (true) {
      const char32_t c = cur_;
      if (c == U'*' || c == U'&') {
        if (c == U'*' && !first) break;
        advance();
        if (is_name_char(cur_)) return false;
      } else if (is_ascii_letter(c) || c == U'_') {
        if (!first) break;
        take_name_run();
        record.elements = saturating_add<uint16_t>(record.elements, 1);
        record.elements_all = saturating_add<uint16_t>(record.elements_all, 1);
      } else if (c == U'.' || c == U'#') {
        if (!is_name_char(next_) && next_ != U'\\') return false;
        uint16_t& count = c == U'.' ? record.classes : record.ids;
        uint16_t& count_all = c == U'.' ? record.classes_all : record.ids_all;
        uint16_t names = 1;
        advance();
        const bool named = take_name_run(c, &names);
        count = saturating_add(count, names);
        count_all = saturating_add(count_all, names);
        if (!named) return false;
      } else if (c == U'[') {
        record.classes = saturating_add<uint16_t>(record.classes, 1);
        record.classes_all = saturating_add<uint16_t>(record.classes_all, 1);
        if (!read_attribute()) return false;
      } else if (c == U':') {
        if (!read_pseudo(record)) return false;
      } else {
        break;
      }
      first = false;
    }
    return !first;
  }

  bool read_attribute() {
    advance();
    skip_white_space();
    if (is_ascii_digit(cur_) || !take_name_run()) return false;
    skip_white_space();
    if (cur_ != U']') {
      if (cur_ == U'~' || cur_ == U'|' || cur_ == U'^' || cur_ == U'$' || cur_ == U'*') {
        if (next_ != U'=') return false;
        advance();
      }
      if (cur_ != U'=') return false;
      advance();
      skip_white_space();
      if (cur_ == U'"' || cur_ == U'\'') {
        if (!take_string()) return false;
      } else if (!take_name_run()) {
        return false;
      }
      skip_white_space();
      if (is_ascii_letter(cur_)) {
        while (is_ascii_letter(cur_)) advance();
        skip_white_space();
      }
      if (cur_ != U']') return false;
    }
    advance();
    return true;
  }

  // ":" or "::", a name and an optional argument; the pseudo-class counts
  // even when its name or argument is refused.
  bool read_pseudo(Specificity& record) {
    advance();
    bool element = false;
    if (cur_ == U':') {
      advance();
      element = true;
    }
    Specificity argument;
    const size_t start = pos_;
    bool ok = !is_ascii_digit(cur_) && take_name_run();
    const std::string_view name = text_.substr(start, pos_ - start);
    if (ok && cur_ == U'(') ok = read_argument(ascii_lower(name), argument);
    accumulate(record, pseudo_class_specificity(name, element, argument));
    return ok;
  }

  bool read_argument(const std::string& name, Specificity& argument) {
    ListMode mode = ListMode::List;
    if (name == "has") mode = ListMode::Relative;
    if (name == "host" || name == "host-context" || name == "slotted") mode = ListMode::Compound;
    const bool nth = name == "nth-child" || name == "nth-last-child";
    if (!nth && mode == ListMode::List && name != "is" && name != "where" && name != "not") {
      return take_flat_group();
    }
    if (depth_ >= kMaxDepth) return false;
    advance();
    ++depth_;
    const bool ok = nth ? read_nth(argument) : read_list(mode, argument);
    if (!ok || cur_ != U')') return false;
    advance();
    --depth_;
    return true;
  }

  // An An+B expression, optionally followed by "of" and a selector list; a
  // selector list may also stand alone.
  bool read_nth(Specificity& argument) {
    bool any = false;
    bool after_space = false;
    while (cur_ != U')') {
      const char32_t c = cur_;
      if (is_ws(c)) {
        skip_white_space();
        after_space = true;
        continue;
      }
      size_t length = 0;
      if (any && after_space && (c == U'o' || c == U'O') && (next_ == U'f' || next_ == U'F') &&
          is_ws(char_at(text_, pos_ + 2, length))) {
        advance();
        advance();
        skip_white_space();
        return read_list(ListMode::List, argument);
      }
      const bool an_plus_b =
          c == U'+' || c == U'-' || is_ascii_digit(c) ||
          (is_ascii_letter(c) && ((any && !after_space) || is_an_plus_b_word(text_, pos_)));
      if (!an_plus_b) {
        if (!is_simple_start(c)) return false;
        return read_list(ListMode::List, argument);
      }
      advance();
      any = true;
      after_space = false;
    }
    return any;
  }

  std::string_view text_;
  size_t pos_ = 0;
  size_t cur_len_ = 0;
  size_t next_len_ = 0;
  char32_t cur_ = kEnd;
  char32_t next_ = kEnd;
  int depth_ = 0;
};

}  // namespace

Specificity add_specificity(const Specificity& a, const Specificity& b) {
  Specificity sum = a;
  accumulate(sum, b);
  return sum;
}

void close_alternative(Specificity& list, Specificity& alternative) {
  if (std::tie(alternative.ids, alternative.classes, alternative.elements) >
      std::tie(list.ids, list.classes, list.elements)) {
    list.ids = alternative.ids;
    list.classes = alternative.classes;
    list.elements = alternative.elements;
  }
  if (std::tie(alternative.ids_all, alternative.classes_all, alternative.elements_all) >
      std::tie(list.ids_all, list.classes_all, list.elements_all)) {
    list.ids_all = alternative.ids_all;
    list.classes_all = alternative.classes_all;
    list.elements_all = alternative.elements_all;
  }
  list.where_count = saturating_add(list.where_count, alternative.where_count);
  list.combinators = saturating_add(list.combinators, alternative.combinators);
  list.codes.insert(list.codes.end(), alternative.codes.begin(), alternative.codes.end());
  alternative = Specificity{};
}

Specificity pseudo_class_specificity(std::string_view name, bool element,
                                     const Specificity& argument) {
  Specificity record;
  record.where_count = argument.where_count;
  record.combinators = argument.combinators;
  record.codes = argument.codes;
  if (element) {
    if (equals_ignoring_case(name, "slotted")) {
      copy_triples(record, argument, 0, 1);
    } else {
      set_triples(record, 0, 0, 1);
    }
    return record;
  }
  if (equals_ignoring_case(name, "where")) {
    record.where_count = saturating_add<uint64_t>(record.where_count, 1);
    record.ids_all = argument.ids_all;
    record.classes_all = argument.classes_all;
    record.elements_all = argument.elements_all;
    return record;
  }
  record.codes.push_back(pseudo_class_code(name));
  static constexpr std::string_view kSelectorArgument[] = {"is", "not", "has"};
  static constexpr std::string_view kPlusClass[] = {"nth-child", "nth-last-child", "host",
                                                    "host-context"};
  const auto named = [&](std::string_view candidate) {
    return equals_ignoring_case(name, candidate);
  };
  if (std::ranges::any_of(kSelectorArgument, named)) {
    copy_triples(record, argument, 0, 0);
  } else if (std::ranges::any_of(kPlusClass, named)) {
    copy_triples(record, argument, 1, 0);
  } else {
    set_triples(record, 0, 1, 0);
  }
  return record;
}

Specificity selector_specificity(std::string_view text) {
  std::string read(text);
  std::replace(read.begin(), read.end(), '\0', '&');
  read += '{';
  Reader reader(read);
  Specificity list;
  reader.read_list(ListMode::Nested, list);
  return list;
}

}  // namespace zeviziz

// Media-range recognition and at-rule list normalisation. A range at-rule is
// split into its " and " pieces, each piece checked and folded into the
// range; normalisation walks the list once, remembering whether the last
// output text is a range so that neighbouring ranges merge without
// re-parsing.
#include "css/media.h"

#include <algorithm>

#include "base/unicode.h"

namespace zeviziz {
namespace {

constexpr std::string_view kMedia = "@media";
constexpr std::string_view kAnd = " and ";

// Reads the pixel value of one condition ("768px", "+10px"); nullopt when it
// is not a plain unsigned 32-bit decimal followed by "px".
std::optional<uint32_t> parse_pixels(std::string_view value) {
  if (value.size() < 3 || !value.ends_with("px")) return std::nullopt;
  if (value.size() == 3 && (value[0] == '+' || value[0] == '-')) return std::nullopt;
  value.remove_suffix(2);
  if (value.front() == '+') value.remove_prefix(1);
  uint64_t number = 0;
  for (char ch : value) {
    if (ch < '0' || ch > '9') return std::nullopt;
    number = number * 10 + static_cast<uint64_t>(ch - '0');
    if (number > UINT32_MAX) return std::nullopt;
  }
  return static_cast<uint32_t>(number);
}

// Folds one " and " piece into `range`; false when the piece is no width
// condition.
bool apply_piece(std::string_view piece, MediaRange& range) {
  piece = trim_white_space(piece);
  if (piece.size() < 2 || piece.front() != '(' || piece.back() != ')') return false;
  std::string_view inside = piece.substr(1, piece.size() - 2);
  size_t colon = inside.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view name = trim_white_space(inside.substr(0, colon));
  std::optional<uint32_t> number = parse_pixels(trim_white_space(inside.substr(colon + 1)));
  if (!number) return false;
  if (name == "min-width") {
    range.min = std::max(range.min, *number);
    return true;
  }
  if (name != "max-width" || *number == 0) return false;
  if (range.max == 0 || *number < range.max) range.max = *number;
  return true;
}

// The smaller of the non-zero values of `a` and `b` (0 when both are 0).
uint32_t min_nonzero(uint32_t a, uint32_t b) {
  if (a == 0) return b;
  if (b == 0) return a;
  return std::min(a, b);
}

}  // namespace

std::optional<MediaRange> parse_range(std::string_view at_rule) {
  if (!at_rule.starts_with(kMedia)) return std::nullopt;
  std::string_view rest = at_rule.substr(kMedia.size());
  MediaRange range;
  while (true) {
    size_t cut = rest.find(kAnd);
    if (!apply_piece(rest.substr(0, cut), range)) return std::nullopt;
    if (cut == std::string_view::npos) return range;
    rest.remove_prefix(cut + kAnd.size());
  }
}

std::string canonical_range_text(MediaRange range) {
  std::string text;
  if (range.min > 0) text += "(min-width:" + std::to_string(range.min) + "px)";
  if (range.max > 0) {
    if (!text.empty()) text += kAnd;
    text += "(max-width:" + std::to_string(range.max) + "px)";
  }
  if (!text.empty()) text.insert(0, kMedia);
  return text;
}

Result<NormalizedAtRules> normalize_at_rules(const std::vector<std::string>& at_rules) {
  NormalizedAtRules out;
  out.at_rules.reserve(at_rules.size());
  std::optional<MediaRange> last_range;  // range of out.at_rules.back(), if it is one
  for (const std::string& text : at_rules) {
    std::optional<MediaRange> range = parse_range(text);
    if (!range) {
      out.at_rules.push_back(text);
      last_range.reset();
      continue;
    }
    out.bound_max = min_nonzero(out.bound_max, range->max);
    out.bound_min = std::max(out.bound_min, range->min);
    if (last_range) {
      out.at_rules.pop_back();
      range->min = std::max(range->min, last_range->min);
      range->max = min_nonzero(range->max, last_range->max);
      last_range.reset();
    }
    std::string canonical = canonical_range_text(*range);
    if (canonical.empty()) continue;
    out.at_rules.push_back(std::move(canonical));
    last_range = range;
  }
  if (out.bound_max > 0 && out.bound_max < out.bound_min) {
    return make_error("Declaration has non-overlapping media ranges");
  }
  return out;
}

}  // namespace zeviziz

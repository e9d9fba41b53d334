// The shorthand table. Each entry lists the properties a shorthand sets
// directly, which may be shorthands themselves; the first lookup expands
// every entry down to longhands once and keeps the result for the run. Only
// properties that every current engine resets with the shorthand are listed:
// a missing longhand merely keeps a declaration that could have gone, while a
// wrong one would drop a declaration that applies.
#include "normalize/shorthand.h"

#include <initializer_list>
#include <unordered_map>
#include <vector>

namespace zeviziz {
namespace {

struct Entry {
  std::string_view shorthand;
  std::initializer_list<std::string_view> members;
};

// clang-format off
const Entry kTable[] = {
    {"margin", {"margin-top", "margin-right", "margin-bottom", "margin-left"}},
    {"margin-block", {"margin-block-start", "margin-block-end"}},
    {"margin-inline", {"margin-inline-start", "margin-inline-end"}},
    {"padding", {"padding-top", "padding-right", "padding-bottom", "padding-left"}},
    {"padding-block", {"padding-block-start", "padding-block-end"}},
    {"padding-inline", {"padding-inline-start", "padding-inline-end"}},
    {"inset", {"top", "right", "bottom", "left"}},
    {"inset-block", {"inset-block-start", "inset-block-end"}},
    {"inset-inline", {"inset-inline-start", "inset-inline-end"}},
    {"border", {"border-width", "border-style", "border-color", "border-image"}},
    {"border-width", {"border-top-width", "border-right-width", "border-bottom-width",
                      "border-left-width"}},
    {"border-style", {"border-top-style", "border-right-style", "border-bottom-style",
                      "border-left-style"}},
    {"border-color", {"border-top-color", "border-right-color", "border-bottom-color",
                      "border-left-color"}},
    {"border-top", {"border-top-width", "border-top-style", "border-top-color"}},
    {"border-right", {"border-right-width", "border-right-style", "border-right-color"}},
    {"border-bottom", {"border-bottom-width", "border-bottom-style", "border-bottom-color"}},
    {"border-left", {"border-left-width", "border-left-style", "border-left-color"}},
    {"border-block", {"border-block-start", "border-block-end"}},
    {"border-block-start", {"border-block-start-width", "border-block-start-style",
                            "border-block-start-color"}},
    {"border-block-end", {"border-block-end-width", "border-block-end-style",
                          "border-block-end-color"}},
    {"border-block-width", {"border-block-start-width", "border-block-end-width"}},
    {"border-block-style", {"border-block-start-style", "border-block-end-style"}},
    {"border-block-color", {"border-block-start-color", "border-block-end-color"}},
    {"border-inline", {"border-inline-start", "border-inline-end"}},
    {"border-inline-start", {"border-inline-start-width", "border-inline-start-style",
                             "border-inline-start-color"}},
    {"border-inline-end", {"border-inline-end-width", "border-inline-end-style",
                           "border-inline-end-color"}},
    {"border-inline-width", {"border-inline-start-width", "border-inline-end-width"}},
    {"border-inline-style", {"border-inline-start-style", "border-inline-end-style"}},
    {"border-inline-color", {"border-inline-start-color", "border-inline-end-color"}},
    {"border-image", {"border-image-source", "border-image-slice", "border-image-width",
                      "border-image-outset", "border-image-repeat"}},
    {"border-radius", {"border-top-left-radius", "border-top-right-radius",
                       "border-bottom-right-radius", "border-bottom-left-radius"}},
    {"outline", {"outline-color", "outline-style", "outline-width"}},
    {"background", {"background-color", "background-image", "background-position",
                    "background-size", "background-repeat", "background-attachment",
                    "background-origin", "background-clip"}},
    {"background-position", {"background-position-x", "background-position-y"}},
    {"font", {"font-style", "font-variant", "font-weight", "font-stretch", "font-size",
              "line-height", "font-family"}},
    {"font-variant", {"font-variant-ligatures", "font-variant-caps", "font-variant-alternates",
                      "font-variant-numeric", "font-variant-east-asian",
                      "font-variant-position"}},
    {"font-synthesis", {"font-synthesis-weight", "font-synthesis-style",
                        "font-synthesis-small-caps"}},
    {"list-style", {"list-style-type", "list-style-position", "list-style-image"}},
    {"text-decoration", {"text-decoration-line", "text-decoration-style",
                         "text-decoration-color"}},
    {"text-emphasis", {"text-emphasis-style", "text-emphasis-color"}},
    {"flex", {"flex-grow", "flex-shrink", "flex-basis"}},
    {"flex-flow", {"flex-direction", "flex-wrap"}},
    {"grid", {"grid-template", "grid-auto-rows", "grid-auto-columns", "grid-auto-flow"}},
    {"grid-template", {"grid-template-rows", "grid-template-columns", "grid-template-areas"}},
    {"grid-area", {"grid-row", "grid-column"}},
    {"grid-row", {"grid-row-start", "grid-row-end"}},
    {"grid-column", {"grid-column-start", "grid-column-end"}},
    {"gap", {"row-gap", "column-gap"}},
    {"grid-gap", {"row-gap", "column-gap"}},
    {"place-content", {"align-content", "justify-content"}},
    {"place-items", {"align-items", "justify-items"}},
    {"place-self", {"align-self", "justify-self"}},
    {"overflow", {"overflow-x", "overflow-y"}},
    {"overscroll-behavior", {"overscroll-behavior-x", "overscroll-behavior-y"}},
    {"transition", {"transition-property", "transition-duration", "transition-timing-function",
                    "transition-delay"}},
    {"animation", {"animation-name", "animation-duration", "animation-timing-function",
                   "animation-delay", "animation-iteration-count", "animation-direction",
                   "animation-fill-mode", "animation-play-state"}},
    {"columns", {"column-width", "column-count"}},
    {"column-rule", {"column-rule-width", "column-rule-style", "column-rule-color"}},
    {"mask", {"mask-image", "mask-mode", "mask-repeat", "mask-position", "mask-clip",
              "mask-origin", "mask-size", "mask-composite"}},
    {"offset", {"offset-position", "offset-path", "offset-distance", "offset-rotate",
                "offset-anchor"}},
    {"scroll-margin", {"scroll-margin-top", "scroll-margin-right", "scroll-margin-bottom",
                       "scroll-margin-left"}},
    {"scroll-padding", {"scroll-padding-top", "scroll-padding-right", "scroll-padding-bottom",
                        "scroll-padding-left"}},
    {"container", {"container-name", "container-type"}},
    {"contain-intrinsic-size", {"contain-intrinsic-width", "contain-intrinsic-height"}},
};
// clang-format on

using Expanded = std::unordered_map<std::string_view, std::vector<std::string_view>>;

const Entry* find_entry(std::string_view property) {
  for (const Entry& entry : kTable) {
    if (entry.shorthand == property) return &entry;
  }
  return nullptr;
}

// Appends the longhands of `property` to `out`: itself when it is no
// shorthand, else the longhands of each member. The table has no cycles.
void expand(std::string_view property, std::vector<std::string_view>& out) {
  const Entry* entry = find_entry(property);
  if (entry == nullptr) {
    out.push_back(property);
    return;
  }
  for (std::string_view member : entry->members) expand(member, out);
}

const Expanded& expanded_table() {
  static const Expanded table = [] {
    Expanded result;
    for (const Entry& entry : kTable) expand(entry.shorthand, result[entry.shorthand]);
    return result;
  }();
  return table;
}

}  // namespace

std::span<const std::string_view> shorthand_longhands(std::string_view property) {
  const Expanded& table = expanded_table();
  auto found = table.find(property);
  if (found == table.end()) return {};
  return found->second;
}

bool reset_by_all(std::string_view property) {
  return !property.starts_with("--") && property != "direction" && property != "unicode-bidi";
}

}  // namespace zeviziz

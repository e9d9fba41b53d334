// The directive service through whole templates: regions are lexed with the
// service's names, prepared, processed and flattened. A processed region is
// shown as its rules ("at-rules | selector | declarations", the class
// placeholder written as "&"), a failed one as "error: " + message.
#include "directive/service.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "directive/handlers.h"
#include "lexer/lexer.h"
#include "normalize/normalize.h"

namespace zeviziz {
namespace {

using Action = DirectiveAction;

DirectiveCase make_case(Action action, CaseKeyKind key, std::string value, uint32_t count = 0,
                        std::string name = {}) {
  DirectiveCase c;
  c.action = action;
  c.key = key;
  c.count = count;
  c.name = std::move(name);
  c.value = std::move(value);
  return c;
}
DirectiveCase plain(Action action, std::string value) {
  return make_case(action, CaseKeyKind::Plain, std::move(value));
}
DirectiveCase named(Action action, std::string name, std::string value) {
  return make_case(action, CaseKeyKind::Named, std::move(value), 0, std::move(name));
}
DirectiveCase counted(Action action, uint32_t count, std::string value) {
  return make_case(action, count == 0 ? CaseKeyKind::NoArguments : CaseKeyKind::Count,
                   std::move(value), count);
}

ProjectConfig config_with(std::initializer_list<DirectiveDef> directives) {
  ProjectConfig config;
  config.directives = directives;
  return config;
}

// The configuration most cases use.
ProjectConfig standard_config() {
  return config_with({
      {"at",
       {named(Action::AtRule, "medium", "@media(min-width:768px)"),
        named(Action::AtRule, "print", "@media print"),
        counted(Action::AtRule, 2, "@media(min-width:\\1) and (max-width:\\2)")}},
      {"screen", {counted(Action::AtRule, 0, "@media screen")}},
      {"hover", {plain(Action::Selector, "&:hover")}},
      {"focus", {plain(Action::Selector, ":focus")}},
      {"kids", {plain(Action::Selector, " li")}},
      {"dark", {plain(Action::Selector, ".dark &")}},
      {"bad-selector", {plain(Action::Selector, "a:hover")}},
      {"nested", {plain(Action::Declaration, "color:red; .x{}")}},
      {"reset", {plain(Action::Declaration, "color:red;margin:0")}},
      {"content", {counted(Action::Declaration, 1, "content:\\1")}},
      {"wide",
       {plain(Action::AtRule, "@media print"), plain(Action::Selector, ":hover"),
        plain(Action::Declaration, "width:100%")}},
  });
}

std::string show_rules(const std::vector<NormalizedRule>& rules) {
  std::string out;
  for (const NormalizedRule& rule : rules) {
    if (!out.empty()) out += " / ";
    for (const std::string& at_rule : rule.at_rules) out += at_rule + " ";
    out += "| ";
    for (char c : rule.selector) out += c == '\0' ? '&' : c;
    out += " |";
    for (const auto& [property, value] : rule.declarations) out += " " + property + ":" + value;
  }
  return out;
}

// Processes every region of `text` with one per-template state and returns
// what each region became.
std::vector<std::string> process(const ProjectConfig& config, std::string_view text) {
  Result<DirectiveService> service = DirectiveService::build(config);
  EXPECT_TRUE(service.ok()) << service.error();
  if (!service.ok()) return {};
  const Node tree = lex(new_lexer(service->names()), text);
  TemplateState state = service->prepare(tree);
  std::vector<std::string> results;
  for (const Node& region : tree.children) {
    if (region.kind != NodeKind::Velt) continue;
    Result<Node> processed = service->process_region(region, config, state);
    if (!processed.ok()) {
      results.push_back("error: " + processed.error());
      continue;
    }
    Result<std::vector<NormalizedRule>> rules = normalize_region(*processed);
    results.push_back(rules.ok() ? show_rules(*rules) : "flatten error: " + rules.error());
  }
  return results;
}

using Results = std::vector<std::string>;

TEST(ServiceBuild, NamesAndRegistrationErrors) {
  Result<DirectiveService> service =
      DirectiveService::build(config_with({{"zeta", {}}, {"at", {}}}));
  ASSERT_TRUE(service.ok());
  EXPECT_EQ(service->names(), (std::vector<std::string>{"at", "copy", "id", "zeta"}));
  EXPECT_EQ(DirectiveService::build(config_with({{"copy", {}}})).error(),
            "Duplicate directive: copy");
  EXPECT_EQ(DirectiveService::build(config_with({{"id", {}}})).error(), "Duplicate directive: id");
  EXPECT_EQ(DirectiveService::build(config_with({{"", {}}})).error(),
            "Directive name cannot be empty");
}

TEST(CollectUses, InvalidDirectiveNodes) {
  const auto region = [](std::initializer_list<Node> children) {
    Node directive(NodeKind::Directive);
    directive.children = children;
    Node velt(NodeKind::Velt);
    velt.children.push_back(directive);
    return velt;
  };
  const Node prefix(NodeKind::Prefix, "!");
  const Node name(NodeKind::Name, "id");
  Node parenthesis(NodeKind::Parenthesis);
  parenthesis.children = {Node(NodeKind::Open, "("), Node(NodeKind::Value, " a "),
                          Node(NodeKind::Close, ")")};
  EXPECT_EQ(collect_uses(region({name}), nullptr).error(), "Invalid directive");
  EXPECT_EQ(collect_uses(region({prefix, name, name}), nullptr).error(), "Invalid directive name");
  EXPECT_EQ(collect_uses(region({parenthesis}), nullptr).error(), "Invalid directive argument");
  EXPECT_EQ(collect_uses(region({prefix, name, parenthesis, parenthesis}), nullptr).error(),
            "Invalid directive argument");
  // A use without a name is dropped; the argument is trimmed.
  Result<std::vector<DirectiveUse>> uses =
      collect_uses(region({prefix, prefix, name, parenthesis, prefix}), nullptr);
  ASSERT_TRUE(uses.ok());
  EXPECT_EQ(*uses, (std::vector<DirectiveUse>{{"id", "a"}}));
}

TEST(Ids, HandlerMessages) {
  const ProjectConfig config = standard_config();
  EXPECT_EQ(process(config, "!id(a)!id(b){x:y}"),
            Results{"error: Velt declaration has multiple ids"});
  EXPECT_EQ(process(config, "!id{x:y}"), Results{"error: id requires an id"});
  EXPECT_EQ(process(config, "!id(my card){x:y}"), Results{"error: Invalid Velt id: my card"});
  EXPECT_EQ(process(config, "!id( ){x:y}"), Results{"error: Velt id cannot be empty"});
  EXPECT_EQ(process(config, "!id(-x){x:y}"), Results{"error: Invalid Velt id: -x"});
  EXPECT_EQ(process(config, "!id(_ok-1){x:y}"), Results{"| & | x:y"});
}

TEST(Ids, DuplicatesFailEveryUseButOnlyWithinOneTemplate) {
  const ProjectConfig config = standard_config();
  EXPECT_EQ(process(config, "!id(card){a:b} !id(card){c:d} !copy(card){e:f} !{g:h}"),
            (Results{"error: Duplicate Velt id: card", "error: Duplicate Velt id: card",
                     "error: Duplicate Velt id: card", "| & | g:h"}));
  EXPECT_EQ(process(config, "!id(card){a:b}"), Results{"| & | a:b"});
  EXPECT_EQ(process(config, "!id(card){c:d}"), Results{"| & | c:d"});
}

TEST(Copy, ReferenceErrors) {
  const ProjectConfig config = standard_config();
  EXPECT_EQ(process(config, "!copy(x){a:b}"), Results{"error: Unknown Velt id: x"});
  EXPECT_EQ(process(config, "!id(a){a:b} !copy(a,){c:d}"),
            (Results{"| & | a:b", "error: copy contains an empty id"}));
  EXPECT_EQ(process(config, "!id(a){a:b} !copy(a.color){c:d}"),
            (Results{"| & | a:b", "error: Invalid Velt copy part: a.color"}));
  EXPECT_EQ(process(config, "!copy{c:d}"), Results{"error: copy requires an id"});
  EXPECT_EQ(process(config, "!copy(my id){c:d}"), Results{"error: Invalid Velt id: my id"});
  EXPECT_EQ(process(config, "!copy(.selector){c:d}"), Results{"error: Velt id cannot be empty"});
}

// The id named is the first one met again while copies are in progress.
TEST(Copy, CircularCopies) {
  EXPECT_EQ(process(standard_config(), "!id(a)!copy(b){x:y} !id(b)!copy(a){z:w}"),
            (Results{"error: Circular Velt copy: b", "error: Circular Velt copy: a"}));
  EXPECT_EQ(process(standard_config(), "!id(a)!copy(a){x:y}"),
            Results{"error: Circular Velt copy: a"});
  // A failed copy leaves the chain empty for the regions after it.
  EXPECT_EQ(process(standard_config(), "!id(a)!copy(a){x:y} !id(b){z:w} !copy(b){v:u}"),
            (Results{"error: Circular Velt copy: a", "| & | z:w", "| && | z:w v:u"}));
}

TEST(Copy, MergesPartsInOrder) {
  const ProjectConfig config = standard_config();
  EXPECT_EQ(process(config, "!id(base){color:red;margin:0} !copy(base.declaration){color:blue}"),
            (Results{"| & | color:red margin:0", "| & | margin:0 color:blue"}));
  EXPECT_EQ(process(config, "!id(base)!at(medium){color:red} !copy(base.at-rule):hover{margin:0}"),
            (Results{"@media(min-width:768px) | & | color:red",
                     "@media(min-width:768px) | &:hover | margin:0"}));
  // The accumulated selector plays the directive's part when the region's
  // own selector is merged last: without a "&" it follows the own selector,
  // so the class placeholder stands twice (the same element).
  EXPECT_EQ(process(config, "!id(base):hover{a:b} !copy(base.selector){c:d}"),
            (Results{"| &:hover | a:b", "| &&:hover | c:d"}));
  EXPECT_EQ(process(config, "!id(base)>li{a:b} !copy(base.selector).x{c:d}"),
            (Results{"| &>li | a:b", "| &.x&>li | c:d"}));
  // Copies inside a copied region are resolved first; later sources
  // override earlier ones property by property.
  EXPECT_EQ(process(config, "!id(a){x:1;y:1} !id(b)!copy(a){y:2;z:2} !copy(b,a){z:3}"),
            (Results{"| & | x:1 y:1", "| && | x:1 y:2 z:2", "| &&&& | x:1 y:1 z:3"}));
  // Nested rules travel with the declarations.
  EXPECT_EQ(process(config, "!id(a){x:1; span{y:2}} !copy(a){z:3}"),
            (Results{"| & | x:1 / | & span | y:2", "| && | x:1 z:3 / | && span | y:2"}));
}

TEST(Configured, AtRuleCasesAndArguments) {
  const ProjectConfig config = standard_config();
  EXPECT_EQ(process(config, "!at(medium){display:none}"),
            Results{"@media(min-width:768px) | & | display:none"});
  EXPECT_EQ(process(config, "!at(huge){x:y}"),
            Results{"error: Directive at has no case for 1 argument"});
  EXPECT_EQ(process(config, "!at{x:y}"),
            Results{"error: Directive at has no case for 0 arguments"});
  EXPECT_EQ(process(config, "!at(a,b,c){x:y}"),
            Results{"error: Directive at has no case for 3 arguments"});
  EXPECT_EQ(process(config, "!screen( ){x:y}"), Results{"@media screen | & | x:y"});
  EXPECT_EQ(process(config, "!at(a,){x:y}"), Results{"error: Directive arguments cannot be empty"});
  EXPECT_EQ(process(config, "!at( 10px , 20px ){x:y}"),
            Results{"@media(min-width:10px) and (max-width:20px) | & | x:y"});
  EXPECT_EQ(process(config, "!at(medium)!at(print){x:y}"),
            Results{"@media(min-width:768px) @media print | & | x:y"});
  EXPECT_EQ(process(config, "!content(f(a,b)){x:y}"), Results{"| & | x:y content:f(a,b)"});
}

TEST(Configured, SelectorCases) {
  const ProjectConfig config = standard_config();
  EXPECT_EQ(process(config, "!hover{x:y}"), Results{"| &:hover | x:y"});
  EXPECT_EQ(process(config, "!focus>a{x:y}"), Results{"| &>a:focus | x:y"});
  EXPECT_EQ(process(config, "!kids{x:y}"), Results{"| & li | x:y"});
  EXPECT_EQ(process(config, "!dark:hover{x:y}"), Results{"| .dark &:hover | x:y"});
  EXPECT_EQ(process(config, "!hover!focus{x:y}"), Results{"| &:focus:hover | x:y"});
  EXPECT_EQ(process(config, "!bad-selector{x:y}"),
            Results{"error: Invalid directive value: !a:hover{x:x}"});
  EXPECT_EQ(process(config, "!wide{x:y}"), Results{"@media print | &:hover | x:y width:100%"});
  // A list in the region's own selector: every alternative carries the
  // element, and a space after "," selects descendants.
  EXPECT_EQ(process(config, "!hover.a,.b{x:y}"), Results{"| &.a:hover,&.b:hover | x:y"});
  EXPECT_EQ(process(config, "!hover.a, .b{x:y}"), Results{"| &.a:hover,& .b:hover | x:y"});
}

// A normalised region whose rule selector is `.a, .b`, expanded directly.
TEST(Configured, SelectorCombinationWithLists) {
  const ProjectConfig config = standard_config();
  Result<DirectiveService> service = DirectiveService::build(config);
  ASSERT_TRUE(service.ok());
  const auto expand = [&](const std::string& name) {
    Node selector = lex_selector(".a, .b{");
    Node rule(NodeKind::Rule);
    rule.children = {selector, Node(NodeKind::Declaration)};
    Node region(NodeKind::Velt);
    region.children.push_back(rule);
    Status status = expand_configured(*service, {{name, std::nullopt}}, region, config);
    EXPECT_TRUE(status.ok()) << status.error();
    return collect_text(*find_child(region.children[0], NodeKind::Selector));
  };
  EXPECT_EQ(expand("hover"), ".a:hover,.b:hover");
  EXPECT_EQ(expand("focus"), ".a:focus,.b:focus");
}

TEST(Configured, DeclarationCases) {
  const ProjectConfig config = standard_config();
  EXPECT_EQ(process(config, "!nested{x:y}"),
            Results{"error: Directive declaration must contain only CSS declarations"});
  EXPECT_EQ(process(config, "!reset{color:blue}"), Results{"| & | color:blue margin:0"});
  EXPECT_EQ(process(config, "!reset{}"), Results{"| & | color:red margin:0"});
}

// Values that every use of their case sees alike are read when the service
// is built, failures included (they still fail only the regions that use
// them); values with placeholders are read per use. At-rule cases read at
// load give their preludes without being read again.
TEST(Configured, FixedValuesAreReadOnce) {
  ProjectConfig config = standard_config();
  Result<DirectiveService> service = DirectiveService::build(config);
  ASSERT_TRUE(service.ok());
  const ProbedValue* hover = service->probed(Action::Selector, "&:hover");
  ASSERT_NE(hover, nullptr);
  EXPECT_EQ(hover->error, "");
  const ProbedValue* nested = service->probed(Action::Declaration, "color:red; .x{}");
  ASSERT_NE(nested, nullptr);
  EXPECT_EQ(nested->error, "Directive declaration must contain only CSS declarations");
  EXPECT_EQ(service->probed(Action::Declaration, "content:\\1"), nullptr);
  EXPECT_EQ(service->probed(Action::AtRule, "@media print"), nullptr);

  config.directives[0].cases[0].at_rules = {"@media(min-width:48em)"};
  EXPECT_EQ(process(config, "!at(medium)!hover{x:y}"),
            Results{"@media(min-width:48em) | &:hover | x:y"});
  EXPECT_EQ(process(config, "!content(A){x:y}"), Results{"| & | x:y content:A"});
}

TEST(Configured, RegionWithoutRule) {
  const ProjectConfig config = standard_config();
  Result<DirectiveService> service = DirectiveService::build(config);
  ASSERT_TRUE(service.ok());
  for (const char* name : {"hover", "reset"}) {
    Node region(NodeKind::Velt);
    region.children.emplace_back(NodeKind::AtRule, "@media print");
    EXPECT_EQ(expand_configured(*service, {{name, std::nullopt}}, region, config).error(),
              "Directive requires a rule");
  }
}

TEST(ProcessTemplate, FailedRegionsStayAsSourceText) {
  const ProjectConfig config = standard_config();
  Result<DirectiveService> service = DirectiveService::build(config);
  ASSERT_TRUE(service.ok());
  const Node before = lex(new_lexer(service->names()), "a !copy(x){ a : b } b !{c:d}");
  const Node after = process_template(*service, before, config);
  ASSERT_EQ(after.children.size(), 4u);
  EXPECT_EQ(after.children[1].kind, NodeKind::Text);
  EXPECT_EQ(after.children[1].value, "!copy(x){ a : b }");
  EXPECT_EQ(after.children[3].kind, NodeKind::Velt);
}

}  // namespace
}  // namespace zeviziz

namespace zeviziz {
namespace {

// "offset: reason" for each region the template keeps as text.
std::vector<std::string> faults_of(const ProjectConfig& config, std::string_view text) {
  Result<DirectiveService> service = DirectiveService::build(config);
  EXPECT_TRUE(service.ok());
  std::vector<RegionFault> faults;
  process_template(*service, lex(new_lexer(service->names()), text), config, &faults);
  std::vector<std::string> lines;
  for (const RegionFault& fault : faults) {
    lines.push_back(std::to_string(fault.region) + "+" + std::to_string(fault.offset) + ": " +
                    fault.reason);
  }
  return lines;
}

// Failed regions are described in the author's terms and blame the use
// that failed, by its offset within the region.
TEST(ProcessTemplate, DescribesFailedRegions) {
  const ProjectConfig config = standard_config();
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"!id{x:y}", {"0+0: \"id\" needs an id: write !id(card)"}},
      {"!id(my card){x:y}", {"0+0: invalid id \"my card\": use letters, digits, \"_\" and \"-\""}},
      {"!id( ){x:y}", {"0+0: empty id"}},
      {"!id(a)!id(b){x:y}", {"0+6: a region can have only one id"}},
      {"!id(c){a:b} !id(c){c:d} !{e:f}",
       {"0+0: id \"c\" is given to more than one region in this file",
        "1+0: id \"c\" is given to more than one region in this file"}},
      {"!copy{c:d}", {"0+0: \"copy\" needs an id: write !copy(card)"}},
      {"!id(a){a:b} !at(medium)!copy(a,){c:d}", {"1+11: empty id in \"copy\""}},
      {"!id(a){a:b} !copy(a.color){c:d}",
       {"1+0: unknown part \"color\" in \"a.color\" (parts: at-rule, selector, declaration)"}},
      {"!id(a)!at(huge){a:b} !copy(a){c:d}",
       {"0+6: unknown case \"huge\" of directive \"at\" (cases: medium, print)",
        "1+0: the region with id \"a\" stays text, so it cannot be copied"}},
      {"!at(a,){x:y}", {"0+0: empty argument in \"at\""}},
      {"!at(1,2,3){x:y}", {"0+0: directive \"at\" has no case for 3 arguments (it takes 1 or 2)"}},
      {"!screen(a){x:y}", {"0+0: directive \"screen\" has no case for 1 argument (it takes 0)"}},
      {"!nested{x:y}",
       {"0+0: directive \"nested\": Directive declaration must contain only CSS declarations"}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(faults_of(config, text), expected) << text;
}

}  // namespace
}  // namespace zeviziz

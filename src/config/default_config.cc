// The default configuration text, kept byte for byte: --init writes it and
// the configuration loader must accept it once the input directory exists.
#include "config/default_config.h"

namespace zeviziz {
namespace {

// 64 lines joined by single line feeds, none after the last line.
constexpr std::string_view kDefaultConfig = R"zv([velt]
in_directory='src'
out_directory='out'
css_file='out/velt.css'

[boundaries]
xml_comment[]='<!--','-->'
php_tag[]='<?php\s[1:]','?>'
php_tag_open_only[]='<?php\s[1:]',''
css_tag[]='<style\c[0:]>','</style>'
js_tag[]='<script\c[0:]>','</script>'
php_echo_tag[]='<?=','?>'
hash_comment[]="#",'\n'
doubleslash_comment[]='//','\n'
multiline_comment[]='/*','*/'
single_quotation_string[]="'","'"
double_quotation_string[]='"','"'
backtick_string[]='`','`'

[template.css]
extensions[]='.css'
templates[multiline_comment]=''

[template.js]
extensions[]='.js'
templates[multiline_comment]=''
templates[doubleslash_comment]=''
boundaries[]='single_quotation_string','double_quotation_string','backtick_string'

[template.html]
extensions[]='.html'
templates[xml_comment]=''
templates[css_tag]='css'
templates[js_tag]='js'
boundaries[]='double_quotation_string'

[template.php_code]
templates[multiline_comment]=''
templates[doubleslash_comment]=''
templates[hash_comment]=''
boundaries[]='single_quotation_string','double_quotation_string'

[template.php]
extensions[]='.php'
templates[php_tag]='php_code'
templates[php_tag_open_only]='php_code'
templates[php_echo_tag]='php_code'
templates[]='html'

[directive.at]
at-rule[base-only]='@media(max-width:319px)'
at-rule[xx-small]='@media(min-width:320px)'
at-rule[xx-small-only]='@media(min-width:320px) and (max-width:479px)'
at-rule[x-small]='@media(min-width:480px)'
at-rule[x-small-only]='@media(min-width:480px) and (max-width:639px)'
at-rule[small]='@media(min-width:640px)'
at-rule[small-only]='@media(min-width:640px) and (max-width:767px)'
at-rule[medium]='@media(min-width:768px)'
at-rule[medium-only]='@media(min-width:768px) and (max-width:1023px)'
at-rule[large]='@media(min-width:1024px)'
at-rule[large-only]='@media(min-width:1024px) and (max-width:1279px)'
at-rule[x-large]='@media(min-width:1280px)'
at-rule[x-large-only]='@media(min-width:1280px) and (max-width:1535px)'
at-rule[xx-large]='@media(min-width:1536px)')zv";

}  // namespace

std::string_view default_config_text() {
  return kDefaultConfig;
}

}  // namespace zeviziz

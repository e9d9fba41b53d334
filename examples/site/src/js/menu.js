// Opens and closes the navigation on small screens.
//
// Strings in scripts are compiled like HTML attributes: the region in
// openClasses below becomes generated class names in out/js/menu.js.
// Such a class only adds properties the nav does not set itself (a top
// border). Properties the nav already sets, such as display, are changed by
// the plain class "open", which the nav styles with its own nested rule
// &.open{display:flex}: that rule is more specific than the nav's
// display:none, so it wins whatever the order of the generated CSS.
const toggle = document.getElementById('menu-toggle');
const menu = document.getElementById('menu');
const openClasses = ['open', ...'!{padding-top:.5rem;border-top:1px solid #e0c9a6}'.split(' ')];

toggle.addEventListener('click', () => {
  const open = !menu.classList.contains('open');
  for (const name of openClasses) menu.classList.toggle(name, open);
  toggle.setAttribute('aria-expanded', String(open));
});

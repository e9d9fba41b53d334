// Opens and closes the navigation on small screens. The class strings hold
// style regions, compiled to generated class names like the HTML ones.
const toggle = document.getElementById('menu-toggle');
const menu = document.getElementById('menu');
const openClasses = 'open !{display:flex;flex-direction:column;gap:.5rem}';

/* Keep the original classes so closing restores them. */
const closedClasses = menu.className;

toggle.addEventListener('click', () => {
  menu.className = menu.className === closedClasses ? closedClasses + ' ' + openClasses : closedClasses;
});

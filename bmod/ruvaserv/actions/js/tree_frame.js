// The tree frame's page (AC=TREEFRAME): it stands in the tree frame until
// the main page draws the library tree into it and, for a library with
// document filters, carries the overlay that shows the filter form. The
// page sets kvTreeImgBase, the toolbar images' address up to "IM=", before
// the overlay sections; the library's filter script follows them. Other
// frames may be missing or still loading, so every call into one is tested
// first.

//@section handlers
// The body's key, resize, load, mouse and click handlers.

function kvTreeParentCall(name, arg) {
  try {
    if (parent && parent != self && typeof parent[name] == 'function') {
      parent[name](arg);
      return true;
    }
  } catch (e) {}
  return false;
}

// Escape closes the filter form; letters search the tree (the main page
// collects them).
function kvTreeKey(e) {
  e = e || window.event;
  if (e && e.keyCode == 27 && typeof hideFilters == 'function') hideFilters();
  kvTreeParentCall('onkeySearch', e);
  return true;
}

function kvTreeResize() {
  if (typeof placeOverlay == 'function') placeOverlay();
}

// The main page draws the tree once the frame stands.
function kvTreeLoad() {
  if (typeof preloadOverlay == 'function') preloadOverlay();
  kvTreeParentCall('treeInitialize');
}

// A press opens the tree's menu (right button) or closes it.
function kvTreeMouse(e) {
  e = e || window.event;
  try {
    if (typeof top.whichElementTree == 'function') top.whichElementTree(e);
    else if (typeof top.whichElement == 'function') top.whichElement(e);
  } catch (x) {}
  return true;
}

function kvTreeClick(e) {
  var suggest = document.getElementById ? document.getElementById('suggest') : null;
  if (suggest) suggest.style.display = 'none';
  return true;
}

//@section overlay
// The filter overlay of current browsers: the grey layer "bgoverlay" over
// the tree and the form "filters" on it (fixed in place by the style).

// The buttons' images, each with the one shown under the mouse, then the
// filter button's shown and hidden states.
var kvOverlayIcons = [140, 142, 143, 142, 140, 142, 143, 142, 135, 136];

function kvTreeElement(id) {
  return document.getElementById ? document.getElementById(id) : null;
}

// The layer covers the whole page, scrolled parts too.
function placeOverlay() {
  var layer = kvTreeElement('bgoverlay');
  if (!layer) return;
  var root = document.documentElement;
  var body = document.body || root;
  layer.style.width = Math.max(root.scrollWidth, body.scrollWidth, root.clientWidth) + 'px';
  layer.style.height = Math.max(root.scrollHeight, body.scrollHeight, root.clientHeight) + 'px';
}

//@section overlay-old
// The filter overlay of browsers without fixed positions: the layer is
// placed over the part in view, and elements may be known by document.all
// only.

var kvOverlayIcons = [135, 136, 140, 142, 143, 142];

function kvTreeElement(id) {
  if (document.getElementById) return document.getElementById(id);
  return document.all ? document.all[id] : null;
}

function placeOverlay() {
  var layer = kvTreeElement('bgoverlay');
  var body = document.body;
  if (!layer || !body) return;
  layer.style.top = body.scrollTop + 'px';
  layer.style.left = body.scrollLeft + 'px';
  layer.style.width = body.clientWidth + 'px';
  layer.style.height = body.clientHeight + 'px';
}

//@section overlay-common
// What both overlays do once shown or hidden. The library's filter script
// fills the form; its dwfApply sets the filters. While the overlay shows,
// top.OvrlyDisplyed keeps documents that load meanwhile from redrawing the
// tree.

var kvOverlayImages = [];

function kvTreeImg(number) {
  return kvTreeImgBase + number;
}

function preloadOverlay() {
  if (!window.Image || kvOverlayImages.length) return;
  for (var i = 0; i != kvOverlayIcons.length; i++) {
    kvOverlayImages[i] = new Image();
    kvOverlayImages[i].src = kvTreeImg(kvOverlayIcons[i]);
  }
}

function setOverlayShown(shown) {
  var layer = kvTreeElement('bgoverlay');
  var form = kvTreeElement('filters');
  if (!layer || !form) return false;
  layer.style.display = shown ? 'block' : 'none';
  form.style.display = shown ? 'block' : 'none';
  var button = kvTreeElement('filterbut');
  if (button) button.src = kvTreeImg(shown ? 135 : 136);
  try {
    top.OvrlyDisplyed = shown;
  } catch (e) {}
  if (shown) placeOverlay();
  return true;
}

function showFilters() {
  return setOverlayShown(true);
}

function hideFilters() {
  return setOverlayShown(false);
}

function applyFilters() {
  if (typeof dwfApply == 'function') dwfApply();
  return hideFilters();
}

// A button's image under the mouse (over true) and away from it.
function hoverButton(image, normal, over) {
  if (image) image.src = kvTreeImg(over ? 142 : normal);
}

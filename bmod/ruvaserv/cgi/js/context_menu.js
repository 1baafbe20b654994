// The context menu of the viewer's frames, loaded once by the frame set
// (AC=JSCMENU). The lines before this text set the menu's state and
// kivoScriptURL, the front end's own address. Pages call
// top.whichElement(event) on a mouse press; their menu is the list of class
// 'context-menu' in their own document.

// url without its ID and DB parameters. Both name a library by the server's
// internal number, which changes when the server restarts, so a link that
// is kept (a bookmark, a copy) must name the document by its other fields.
// Works on raw ('&') and page ('&amp;') separators; the fragment is kept.
function removeIDDB(url) {
  var query = url.indexOf('?');
  if (query < 0) return url;
  var hash = url.indexOf('#', query);
  var fragment = hash < 0 ? '' : url.substring(hash);
  var fields = url.substring(query + 1, hash < 0 ? url.length : hash).split(/&amp;|&/);
  var kept = [];
  for (var i = 0; i < fields.length; i++) {
    var name = fields[i].split('=')[0].toUpperCase();
    if (fields[i] !== '' && name !== 'ID' && name !== 'DB') kept.push(fields[i]);
  }
  return url.substring(0, query) + (kept.length ? '?' + kept.join('&') : '') + fragment;
}

function contextMenusOf(doc) {
  var menus = [];
  var lists = doc ? doc.getElementsByTagName('ul') : [];
  for (var i = 0; i < lists.length; i++) {
    if ((' ' + lists[i].className + ' ').indexOf(' context-menu ') >= 0) menus.push(lists[i]);
  }
  return menus;
}

// Hides every menu of the document; the browser's own menu is back.
function hideContextMenu(doc) {
  var menus = contextMenusOf(doc);
  for (var i = 0; i < menus.length; i++) menus[i].style.display = 'none';
  if (doc) doc.oncontextmenu = null;
  isContextMenuActive = false;
}

// Shows the page's menu where the mouse was pressed. The browser's own menu
// stays reachable with CTRL, as the menu's last entry tells the user.
function showContextMenu(e) {
  var target = e.target || e.srcElement;
  var doc = target ? target.ownerDocument : null;
  var menus = contextMenusOf(doc);
  if (!menus.length) return false;
  hideContextMenu(doc);
  var menu = menus[0];
  var root = doc.documentElement;
  var body = doc.body || root;
  var x = e.pageX !== undefined ? e.pageX : e.clientX + (root.scrollLeft || body.scrollLeft);
  var y = e.pageY !== undefined ? e.pageY : e.clientY + (root.scrollTop || body.scrollTop);
  menu.style.position = 'absolute';
  menu.style.left = x + 'px';
  menu.style.top = y + 'px';
  menu.style.display = 'block';
  doc.oncontextmenu = function (ev) {
    ev = ev || doc.parentWindow.event;
    return !!ev.ctrlKey;
  };
  isContextMenuActive = true;
  return true;
}

// A mouse press in a page: the right button opens the menu while the page
// enables it, any other press closes it.
function whichElement(e) {
  if (!e) return;
  var right = e.which ? e.which === 3 : e.button === 2;
  var target = e.target || e.srcElement;
  if (right && enableCustContextMenu && !e.ctrlKey) {
    showContextMenu(e);
  } else if (target) {
    hideContextMenu(target.ownerDocument);
  }
}

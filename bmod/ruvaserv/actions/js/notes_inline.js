// The in-line notes script (AC=JSNOTESINLINE), loaded by the frame set and
// by document pages. The lines before this text set useInfo,
// enableCustContextMenu and isContextMenuActive. A right press on a link
// records the link where the menus' entries read it: in the frame set, when
// this page can reach it. The bookmark window reads BookmarkUrl,
// hrefValueOP and extLink with their titles from its opener.
// The answer goes through the page pass as it is, so this text holds no
// markup and no program address.
var cpylink_Flag = 0;
var hrefValueOP = '';
var text_link_title = '';
var extLink = '';
var BookmarkUrl = '';
var BookmarkTitle = '';

// The link a mouse press hit, or null.
function linkOfPress(e) {
  var node = e ? e.target || e.srcElement : null;
  while (node && !(node.nodeName && node.nodeName.toUpperCase() == 'A' && node.href)) node = node.parentNode;
  return node || null;
}

function isRightPress(e) {
  return !!e && (e.which ? e.which == 3 : e.button == 2);
}

// A right press: the link under it (none: cleared), for the menu about to
// open. Other presses choose a menu entry and leave the link as it was.
function recordMenuLink(e) {
  e = e || window.event;
  if (!isRightPress(e)) return true;
  var link = linkOfPress(e);
  cpylink_Flag = link ? 1 : 0;
  hrefValueOP = link ? String(link.href) : '';
  text_link_title = link ? String(link.textContent || link.innerText || '') : '';
  return true;
}

function notesTop() {
  try {
    return top && top != self && typeof top.recordMenuLink == 'function' ? top : null;
  } catch (e) {
    return null;
  }
}

if (document.addEventListener) {
  document.addEventListener('mousedown', function (e) {
    var frameSet = notesTop();
    if (frameSet) frameSet.recordMenuLink(e);
    else recordMenuLink(e);
  }, true);
}

// extLink from the link the menu was opened on: mode 0 as it is (to open
// it), mode 1 without the ID and DB fields (to keep it: they number the
// library for this server run only). Only web addresses are taken, so a
// script address in a document cannot run in a window of its own.
// 1 when there is a link.
function process_URL(mode) {
  var url = String(hrefValueOP || '');
  if (!/^https?:[/][/]/i.test(url)) url = '';
  if (url && mode == 1 && typeof removeIDDB == 'function') url = removeIDDB(url);
  extLink = url;
  return url ? 1 : 0;
}

function openLinkNewWin() {
  if (!process_URL(0)) return;
  var win = window.open(extLink, '_blank',
      'toolbar=no,location=no,directories=no,status=no,menubar=no,scrollbars=yes,resizable=yes');
  if (win) win.focus();
}

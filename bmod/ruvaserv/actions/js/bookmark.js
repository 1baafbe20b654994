// The bookmark window: one link to the page the opener names, with a hint
// how to keep it. The opener's titles are document text, so the link is
// built as elements and its title set as text, never as markup.
var bmNoClickText = "This link cannot be opened in this window. Please right click to bookmark this link.";

function bmOpener() {
  try {
    return window.opener || null;
  } catch (e) {
    return null;
  }
}

function bmRead(win, name) {
  try {
    var value = win[name];
    return value === undefined || value === null ? "" : String(value);
  } catch (e) {
    return "";
  }
}

function bmClear(win, name) {
  try {
    if (win[name] !== undefined) win[name] = "";
  } catch (e) {
  }
}

// The link the opener offers, in its order of preference.
function bmChosenLink(win) {
  var pairs = [["BookmarkUrl", "BookmarkTitle"], ["hrefValueOP", "text_link_title"],
               ["extLink", "text_link_title"]];
  for (var i = 0; i < pairs.length; i++) {
    var url = bmRead(win, pairs[i][0]);
    if (url != "") return {url: url, title: bmRead(win, pairs[i][1])};
  }
  return null;
}

// Only web addresses, whole or relative: a script or data address would
// run in this window's origin when followed.
function bmSafeAnchor(url) {
  if (/[\u0000-\u001f]/.test(url)) return null;
  var anchor = document.createElement("a");
  anchor.setAttribute("href", url);
  var scheme = String(anchor.protocol || "").toLowerCase();
  if (scheme != "http:" && scheme != "https:") return null;
  return anchor;
}

function bmHintText() {
  var agent = navigator.userAgent || "";
  var choice = "'Copy link address'";
  if ((navigator.appVersion || "").indexOf("MSIE") >= 0) {
    choice = "'Add to Favorites...'";
  } else if (agent.indexOf("Firefox") >= 0 && window.sidebar && window.sidebar.addPanel) {
    choice = "'Bookmark This Link'";
  } else if (agent.indexOf("Netscape") >= 0) {
    choice = "'Add Bookmark'";
  }
  return "Right-click the link below and choose " + choice + ".";
}

// Netscape 6 before 6.2 follows a link even when its click handler says
// no, so the link gets none there.
function bmBlocksClick() {
  var agent = navigator.userAgent || "";
  return !(agent.indexOf("Netscape6/") >= 0 && agent.indexOf("Netscape6/6.2") < 0);
}

function writeBookmark() {
  var hint = document.getElementById("bmHint");
  var place = document.getElementById("bmLink");
  var win = bmOpener();
  var link = win ? bmChosenLink(win) : null;
  var anchor = link ? bmSafeAnchor(link.url) : null;
  if (hint) hint.textContent = bmHintText();
  if (anchor && place) {
    anchor.textContent = link.title != "" ? link.title : link.url;
    if (bmBlocksClick()) {
      anchor.onclick = function () {
        alert(bmNoClickText);
        return false;
      };
    }
    place.appendChild(anchor);
  }
  if (win) {
    bmClear(win, "BookmarkUrl");
    bmClear(win, "hrefValueOP");
    bmClear(win, "extLink");
  }
}

// Scripts of the search results page. The server writes only assignments
// of escaped values (helpID, helpCount) before it; the page carries it whole.

var kHelpMissingAlert = "The Help file is not available! Please refer to the installation guide.";
var kCookieDays = 20000;

// The window the results are shown in: the frameset's result frame, else
// the page's own top window (the page opened alone).
function resultWindow() {
  try {
    if (top.kivomain && top.kivomain.kivodoc) return top.kivomain.kivodoc;
  } catch (e) {
  }
  return top;
}

// The links that call these functions point at "#": keep that jump from
// following the navigation they start.
function keepLinkStill() {
  if (window.event && window.event.preventDefault) window.event.preventDefault();
}

function openHelp(url) {
  keepLinkStill();
  if (top.helpCount == 0) {
    alert(kHelpMissingAlert);
    return;
  }
  var height = Math.max(600, Math.round(screen.height * 0.6));
  var left = screen.width - 800 - 21;
  var features = "width=800,height=" + height + ",left=" + left + ",top=0,resizable=yes,scrollbars=yes";
  var help = window.open(url + "&DB=" + helpID, "KIVOHELP", features);
  if (help) help.focus();
}

function openDoc(url) {
  keepLinkStill();
  top.location.href = url;
}

// The results of a search shown again through the waiting page of action.
function asAction(url, action) {
  return url.replace(/([?&]AC=)SEARCH(?=&|#|$)/i, "$1" + action);
}

// The value of field name in url set to value, when url holds the field.
function withField(url, name, value) {
  var field = new RegExp("([?&]" + name + "=)[^&#]*", "i");
  return url.replace(field, "$1" + value);
}

// url with "&name=value" added before its fragment.
function addField(url, name, value) {
  var hash = url.indexOf("#");
  var part = "&" + name + "=" + value;
  return hash < 0 ? url + part : url.substring(0, hash) + part + url.substring(hash);
}

function hasField(url, name) {
  return new RegExp("[?&]" + name + "=", "i").test(url);
}

function storeSwitch(checkBoxName, val) {
  var expires = new Date();
  expires.setTime(expires.getTime() + kCookieDays * 24 * 60 * 60 * 1000);
  document.cookie = checkBoxName + "=" + val + "; expires=" + expires.toUTCString() + "; path=/";
}

// The display switch's cookie stored and the results shown again with it.
function switchedUrl(url, checkBoxName, val) {
  storeSwitch(checkBoxName, val);
  var name = checkBoxName == "showAllTitles" ? "MT" : "SP";
  return asAction(withField(url, name, val), "SEARCHMSG");
}

function setCookie(checkBoxName, val) {
  var target = resultWindow();
  target.location.href = switchedUrl(target.location.href, checkBoxName, val);
}

function setCookieMulti(url, checkBoxName, val) {
  resultWindow().location.href = switchedUrl(url, checkBoxName, val);
}

// val is the direction for the key val1; a change of key takes val2.
function sortedUrl(url, val, val1, val2) {
  url = asAction(url, "SORTMSG");
  var key = /([?&]BA=)(TITLE|TYPE|IDENTITY)(?=&|#|$)/i;
  var current = url.match(key);
  var order = current && current[2].toUpperCase() != String(val1).toUpperCase() ? val2 : val;
  url = hasField(url, "OD") ? withField(url, "OD", order) : addField(url, "OD", order);
  if (current) return url.replace(key, "$1" + val1);
  return hasField(url, "BA") ? url : addField(url, "BA", val1);
}

function sortdisplay(val, val1, val2) {
  keepLinkStill();
  var target = resultWindow();
  target.location.href = sortedUrl(target.location.href, val, val1, val2);
}

function sortdisplayMulti(url, val, val1, val2) {
  keepLinkStill();
  resultWindow().location.href = sortedUrl(url, val, val1, val2);
}

// The language switch page's script. The page assigns kvLangSwitch before
// it: pd (the new library's ID string), hashId, title ("" when the library
// stays), kivo2 (the library has the second start page), plusCoded (old
// browsers that read '+' in an address as a blank) and query (the fields
// passed on, already coded, "&ST=..." up to "&WK=...").
// The toolbar and main frames may be missing or still loading, so every
// call into one is tested first.

function kvLangToolbarForm(name) {
  try {
    var bar = top.kivotbar;
    return bar && bar.document ? bar.document[name] || null : null;
  } catch (e) {
    return null;
  }
}

function kvLangFieldValue(form, name) {
  return form && form[name] ? String(form[name].value) : "";
}

function switchLib() {
  var s = kvLangSwitch;
  var info = kvLangToolbarForm("sdlinfo");
  if (info && info.LIBSWITCH) info.LIBSWITCH.value = "";
  if (info && info.LIBTYPE) info.LIBTYPE.value = "";
  try {
    top.pd = s.pd;
    if (typeof top.setPD == "function") {
      top.setPD(s.hashId, typeof top.library == "function" ? top.library() : undefined);
    }
  } catch (e) {
  }
  var newlib = kvLangToolbarForm("newlib");
  var newID = kvLangFieldValue(newlib, "ID");
  var newDB = kvLangFieldValue(newlib, "DB");
  var consturl = (s.kivo2 ? "qzl:/kivo?FN=kivo2.html&ID=" : "qzl:/kivo?FN=kivo.html&ID=") +
      newID + "&DB=" + newDB + s.query;
  if (s.plusCoded) consturl = consturl.replace(/\+/g, "%2B");
  try {
    if (top.kivomain && top.kivomain.location) top.kivomain.location.replace(consturl);
  } catch (e) {
  }
  if (info && info.LIBSWITCH) info.LIBSWITCH.value = "yes";
  try {
    if (s.title) top.document.title = s.title;
    var lib = kvLangToolbarForm("lib");
    if (lib && lib.li && typeof top.libId != "undefined") lib.li.value = top.libId;
  } catch (e) {
  }
}

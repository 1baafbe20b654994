//@section open
// The annotation edit window. Pages and documents call openAnEd with the
// form's address. The toolbar (its glDocHref) and the main page (the
// document frame) call it for the document shown: that is checked first,
// and its file name joins the address. Alerts read kvTexts 22, 23 and 24.

// The address of the document shown, or null when the caller gave the
// document itself.
function anShownDoc(params) {
  if (self.name == "kivotbar") return typeof glDocHref == "string" ? glDocHref : "LoadingNotCompleted";
  if (params) return null;
  try {
    var doc = top.kivomain && top.kivomain.kivodoc ? top.kivomain.kivodoc : null;
    var href = doc && doc.location ? String(doc.location.href) : "";
    // A plug-in (a PDF) has no page to annotate.
    if (!doc.document || doc.document.readyState != "complete" || href == "" || href == "about:blank" ||
        /\.pdf(&|#|$)/i.test(href)) {
      return "LoadingNotCompleted";
    }
    return href;
  } catch (e) {
    return "LoadingNotCompleted";
  }
}

// The text number of the refusal for that document, or 0.
function anRefusal(href) {
  if (href == "LoadingNotCompleted") return 22;
  if (href.indexOf(".khx") >= 0) return 23;
  var fn = /[?&]fn=([^&#]*)/i.exec(href);
  if (!fn || fn[1].split(".").length < 3) return 24;
  return 0;
}

// A new annotation's form on the document's own server and library.
function anNewFormUrl(href) {
  var base = href.split("#")[0];
  var query = base.indexOf("?");
  var url = (query >= 0 ? base.substring(0, query) : base) + "?AC=ANNOED&AN=NEW";
  var keep = /[?&]((?:uz|op|id|db)=[^&#]*)/gi;
  var found;
  while ((found = keep.exec(base)) != null) url += "&" + found[1];
  return url;
}

function openAnEd(params) {
  var shown = anShownDoc(params);
  if (shown != null) {
    var refusal = anRefusal(shown);
    if (refusal) {
      alert(kvTexts[refusal]);
      return;
    }
    params = (params || anNewFormUrl(shown)) + "&" + /[?&](fn=[^&#]*)/i.exec(shown)[1];
  }
  var w = window.open(params, "annoed",
      "width=710,height=400,toolbar=no,menubar=no,location=no,status=no,scrollbars=yes,resizable=yes");
  if (w) w.focus();
}

//@section frame
// The opener's document frame, else the opener; null when it is gone.
function anDocWindow() {
  try {
    if (!opener || opener.closed) return null;
    if (opener.top.kivomain && opener.top.kivomain.kivodoc) return opener.top.kivomain.kivodoc;
    return opener;
  } catch (e) {
    return null;
  }
}

//@section form
// The edit form's checks and its two views in the opener's document frame.

function empty(field) {
  return /^\s*$/.test(String(field == null ? "" : field));
}

function validate() {
  var form = document.forms["edannot"];
  if (empty(form.AU.value)) {
    alert("You must specify your name or signature !");
    return false;
  }
  if (empty(form.AH.value)) {
    alert("You must give the annotation a header !");
    return false;
  }
  if (form.AT.value.length > 2000) {
    return confirm("The text is longer than 2000 characters. It will be cut to 2000 characters. Save it?");
  }
  return true;
}

function showDoc(url) {
  var target = anDocWindow();
  if (!target) return;
  var an = document.forms["edannot"].AN.value;
  if (!empty(an) && an != "0") url += "#CHAPTER" + encodeURIComponent(an);
  target.location.href = url;
}

function showAnn(docname, docRev) {
  var target = anDocWindow();
  if (target) target.location.href = "qzl:/kivo?AC=ANNOTS&FN=" + docname + "#rev" + docRev;
}

//@section ok
// After a save or removal: the document shown reloads with the change.
document.write("       Done !");
(function () {
  var target = anDocWindow();
  try {
    if (target) target.location.reload();
  } catch (e) {}
  window.close();
})();


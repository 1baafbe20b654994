// Scripts of the collection search (STB "1") pages: the link is built from
// the toolbar's pattern with DOM text nodes. Each section is carried whole
// by the page that needs it.
//@section results
(function () {
  // The script element this runs in: the link goes beside it.
  var scripts = document.getElementsByTagName("script");
  var here = document.currentScript || scripts[scripts.length - 1];
  var inCollection = false;
  try {
    inCollection = self.name == "kivodoc" && top.isCollection == 1;
  } catch (e) {
  }
  if (!inCollection || !here) return;

  var link = document.createElement("a");
  link.href = "#";
  link.appendChild(document.createTextNode("Show All Results in the whole Library Collection"));
  link.onclick = function () {
    top.collsearch = 1;
    var form = top.kivotbar.document.lib;
    form.target = "kivomain";
    if (top.checkSearch()) form.submit();
    return false;
  };
  var cell = document.createElement("td");
  cell.className = "c4";
  cell.appendChild(link);
  var row = here.parentNode;
  while (row && row.nodeName.toLowerCase() != "tr") row = row.parentNode;
  if (row) row.appendChild(cell);
})();
//@section nomatch
(function () {
  var scripts = document.getElementsByTagName("script");
  var here = document.currentScript || scripts[scripts.length - 1];
  var originalPattern = "";
  var inCollection = false;
  try {
    inCollection = self.name == "kivodoc" && top.isCollection == 1;
    if (inCollection) originalPattern = top.kivotbar.document.lib.PA.value;
  } catch (e) {
    inCollection = false;
  }
  if (!inCollection || !here) return;

  var link = document.createElement("a");
  link.href = "#";
  var bold = document.createElement("b");
  bold.appendChild(document.createTextNode(originalPattern));
  link.appendChild(bold);
  link.onclick = function () {
    top.collsearch = 1;
    var form = top.kivotbar.document.lib;
    form.target = "kivomain";
    if (top.checkSearch()) form.submit();
    return false;
  };
  var line = document.createElement("p");
  line.appendChild(document.createTextNode("Search for "));
  line.appendChild(link);
  line.appendChild(document.createTextNode(" in the whole Library Collection."));
  here.parentNode.insertBefore(line, here.nextSibling);
})();

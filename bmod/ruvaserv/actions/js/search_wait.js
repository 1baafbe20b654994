// The waiting page of a search: it reloads itself as the search, and fades
// its notice in while the search runs.

//@section go_to_search
// The action word may come in any case, as the program reads it; one left
// unchanged would load this page again and again. Without one the search
// word is appended, and the later field wins.
function go_to_search() {
  var url = String(location.href);
  var hash = url.indexOf("#");
  var tail = "";
  if (hash >= 0) {
    tail = url.substring(hash);
    url = url.substring(0, hash);
  }
  var next = url.replace(/([?&])ac=(searchmsg|sortmsg)(?=&|$)/gi, "$1AC=SEARCH");
  if (next == url) next += (url.indexOf("?") >= 0 ? "&" : "?") + "AC=SEARCH";
  location.replace(next + tail);
}

//@section fadein
function fadein() {
  var el = document.getElementById ? document.getElementById("horizon") : null;
  if (!el || !el.style) return;
  var step = 0;
  var timer = setInterval(function () {
    step++;
    el.style.opacity = String(step * 0.2);
    if (step >= 5) clearInterval(timer);
  }, 200);
}

//@section intermediatepage
function intermediatepage() {
  go_to_search();
  setTimeout(fadein, 1000);
}

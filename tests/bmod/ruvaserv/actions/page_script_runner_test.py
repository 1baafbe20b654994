#!/usr/bin/env python3
"""page_script_runner.js on one small page: scripts in order in one
context, the toolbar forms and frames, the page's location, timers only on
demand, alerts, and errors that do not stop the later scripts."""

import unittest

from page_scripts import run_page_scripts

PAGE = """<html><head><title>Wait &amp; see</title>
<script type="text/javascript">
var seen = [navigator.appVersion.substring(0, 3)];
function switchLib() {
  var f = top.kivotbar.document;
  f.sdlinfo.LIBSWITCH.value = "yes";
  top.setPD("7", top.library());
  var url = "qzl:/kivo?ID=" + f.newlib.ID.value + "&PA=a+b";
  if (navigator.userAgent.indexOf("Mozilla/4") == 0) url = url.replace(/\\+/g, "%2B");
  top.kivomain.location.replace(url);
  f.lib.li.value = top.libId;
}
function go_to_search() { window.location = location.href.replace(/ac=searchmsg/i, "AC=SEARCH"); }
</script>
<script src="elsewhere.js"></script>
<script>missing(); seen.push("not reached");</script>
<script>seen.push("third"); setTimeout("alert('late ' + seen.join())", 500);</script>
</head><body onload="window.switchLib()"></body></html>
"""


class PageScriptRunner(unittest.TestCase):
    def test_load_onload_and_calls(self):
        r = run_page_scripts(PAGE, {
            "href": "http://h/cgi-bin/kivoserv?ac=SEARCHMSG&x=1", "onload": True, "forms": {"newlib": {"ID": "42"}},
            "top": {"libId": "EN/X1"}, "returns": {"top.library": "lib"}, "calls": ["go_to_search()", "seen.length"],
            "dump": ["seen", "document.title"]})
        self.assertEqual(r["errors"], [{"where": "script 2", "message": "missing is not defined"}])
        self.assertEqual(r["skipped"], ["elsewhere.js"])
        self.assertEqual(r["values"], {"seen": ["5.0", "third"], "document.title": "Wait & see"})
        self.assertEqual([c["fn"] for c in r["calls"]], ["top.library", "top.setPD", "top.kivomain.location.replace"])
        self.assertEqual(r["calls"][1]["args"], ["7", "lib"])
        self.assertEqual(r["kivomain"]["replaced"], ["qzl:/kivo?ID=42&PA=a+b"])
        self.assertEqual((r["forms"]["sdlinfo"]["LIBSWITCH"], r["forms"]["lib"]["li"]), ("yes", "EN/X1"))
        self.assertEqual(r["location"]["set"], ["http://h/cgi-bin/kivoserv?AC=SEARCH&x=1"])
        self.assertEqual(r["results"], [None, 2])
        # Timers wait until asked for.
        self.assertEqual((r["alerts"], r["timers"]), ([], [{"delay": 500, "ran": False, "cleared": False}]))

    def test_timers_navigator_and_no_opener(self):
        r = run_page_scripts(PAGE, {"onload": True, "timers": True, "opener": None,
                                    "navigator": {"userAgent": "Mozilla/4.7 [en] (X11)", "appVersion": "4.7"},
                                    "dump": ["window.opener === null"]})
        self.assertEqual(r["alerts"], ["late 4.7,third"])
        self.assertEqual(r["kivomain"]["href"], "qzl:/kivo?ID=&PA=a%2Bb")
        self.assertEqual((r["opener"], r["values"]["window.opener === null"]), (None, True))


if __name__ == "__main__":
    unittest.main()

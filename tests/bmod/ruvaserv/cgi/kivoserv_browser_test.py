#!/usr/bin/env python3
"""kivoserv's pages in Chromium: what a person sees of the error page, the
blank pages, the toolbar images and the menu script, and that outside text
on a page stays text. Each page leaves a screenshot in $RUVA_ARTIFACTS."""

import html
import json
import re
import unittest
import urllib.parse

import daemon_harness
import kivoserv_answers as ka
import web_harness as wh

HOSTILE = "<img src=x onerror=alert(1)>"
NOTES_CATEGORY = 'a"b\\'

# The text between the error markers, and the colours of its spans.
ERROR_TEXT = """(() => {
  const walk = document.createNodeIterator(document.body, NodeFilter.SHOW_COMMENT);
  let node, open = null, close = null;
  while ((node = walk.nextNode())) {
    if (node.data === '@error') open = node;
    if (node.data === '@/error') close = node;
  }
  if (!open || !close) return null;
  const range = document.createRange();
  range.setStartAfter(open);
  range.setEndBefore(close);
  const spans = [...document.querySelectorAll('span')].filter(s => range.intersectsNode(s));
  return [range.toString(), spans.map(s => getComputedStyle(s).color)];
})()"""
ELEMENTS = "[...document.querySelectorAll('*')].map(e => e.tagName).join(' ')"
BACK_BUTTONS = "document.querySelectorAll('input[type=button][value=Back]').length"


def text_of(markup):
    """What a browser shows of a message without entities: its markup without tags."""
    return re.sub(r"<[^>]*>", "", markup)


class InChromium(ka.ServedTestCase):
    conf_lines = ("TestMode Yes", "NotesCat " + NOTES_CATEGORY)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        try:
            cls.browser = wh.Browser()
        except BaseException:
            super().tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        pid = cls.browser.proc.pid
        cls.browser.close()
        super().tearDownClass()
        assert not daemon_harness.pid_alive(pid), "chromium %d left" % pid

    def open(self, url, shot):
        """Opens url, which must raise no error, and leaves the page's screenshot."""
        self.assertEqual(self.browser.open(url), [])
        self.browser.screenshot("%s_%s" % (self.id(), shot))

    def test_error_page_shows_the_message(self):
        b = self.browser
        shown = ka.message(200, "cgihandler/2", ka.message(237, "cgihandler/34"))
        for shot, query, back in (("with_sl", "AC=TBIMG&IM=abc&SL=1", 1), ("without_sl", "AC=TBIMG&IM=abc", 0)):
            with self.subTest(shot):
                self.open(self.web.url(query), shot)
                self.assertEqual(b.eval("document.title"), "KIVO Error Message")
                text, colours = b.eval(ERROR_TEXT)
                self.assertEqual(text, "\n" + text_of(shown))
                self.assertEqual(colours, ["rgb(216, 216, 216)"] * 2)
                self.assertEqual(b.eval(BACK_BUTTONS), back)

    def test_empty_and_blank_pages(self):
        b = self.browser
        for shot, query, colour in (("empty", "AC=EMPTY", "rgb(255, 255, 255)"),
                                    ("blank", "AC=blank&BG=ff0000", "rgb(255, 0, 0)"),
                                    ("blank_default", "AC=blank", "rgb(0, 0, 0)")):
            with self.subTest(shot):
                self.open(self.web.url(query), shot)
                self.assertEqual(b.eval("getComputedStyle(document.body).backgroundColor"), colour)
                self.assertEqual(b.eval("document.body.children.length"), 0)

    def test_toolbar_images_have_their_sizes(self):
        # Shown scaled down, so that the screenshot holds all five; the natural sizes stay.
        numbers = (1, 13, 15, 117, 153)
        self.open(self.web.url("AC=EMPTY"), "empty")
        images = "".join('<span>%d <img style="max-width:150px" src="%s"></span>\n'
                         % (n, html.escape(self.web.url("AC=TBIMG&IM=%d" % n))) for n in numbers)
        # decode() fails for an image that did not load or is no image.
        sizes = self.browser.eval("""(async () => {
          document.body.innerHTML = %s;
          await Promise.all([...document.images].map(i => i.decode()));
          return [...document.images].map(i => [i.naturalWidth, i.naturalHeight]);
        })()""" % json.dumps(images))
        self.browser.screenshot(self.id() + "_images")
        self.assertEqual(self.browser.errors, [])
        self.assertEqual(sizes, [list(ka.toolbar_icon(n)[1:]) for n in numbers])

    def test_menu_script_defines_its_functions_and_state(self):
        b = self.browser
        self.assertEqual(b.open(self.web.url("AC=EMPTY")), [])
        b.eval("""new Promise((loaded, failed) => {
          const script = document.createElement('script');
          script.onload = loaded;
          script.onerror = () => failed(new Error('the menu script did not load'));
          script.src = %s;
          document.head.appendChild(script);
        })""" % json.dumps(self.web.url("AC=JSCMENU")))
        b.eval("document.body.textContent = 'The menu script defines removeIDDB: ' + typeof removeIDDB")
        b.screenshot(self.id() + "_menu")
        self.assertEqual(b.errors, [])
        self.assertEqual(b.eval("typeof removeIDDB"), "function")
        self.assertEqual(b.eval("notes_cat_inline"), NOTES_CATEGORY)
        self.assertEqual(b.eval("kivoScriptURL"), self.web.url(""))
        self.assertEqual(b.eval("removeIDDB('http://h/cgi-bin/kivoserv?DB=lib&ID=12&FN=a.html')"),
                         "http://h/cgi-bin/kivoserv?FN=a.html")

    def post_as_page(self, content_type):
        """Chromium POSTs AC=EMPTY with that Content-Type and shows the answer
        as a page of its own; gives the page's elements."""
        b = self.browser
        errors = len(b.errors)
        b.eval("""(async () => {
          const answer = await fetch(%s, {method: 'POST', headers: {'Content-Type': %s}, body: 'AC=EMPTY'});
          const page = new Blob([await answer.text()], {type: 'text/html'});
          location.href = URL.createObjectURL(page);
        })()""" % (json.dumps(self.web.url("")), json.dumps(content_type)))
        b.wait_event("Page.loadEventFired")
        self.assertEqual(b.errors[errors:], [])
        return b.eval(ELEMENTS)

    def test_outside_text_adds_no_element(self):
        b = self.browser
        self.open(self.web.url("AC=EMPTY"), "start")
        plain = self.post_as_page("text/plain")
        hostile = self.post_as_page(HOSTILE)
        b.screenshot(self.id() + "_content_type")
        self.assertEqual(hostile, plain)
        self.assertIn("Unknown CONTENT_TYPE provided with POST method, %s." % HOSTILE,
                      b.eval("document.body.innerText"))

        # The environment page, with the text in the User-Agent, a cookie and a field name.
        # Had a handler got in, its alert would hold the page, and open would time out.
        agent = b.call("Browser.getVersion", session=False)["userAgent"]
        b.call("Network.enable")
        pages = {}
        try:
            for kind, text in (("plain", "plain"), ("hostile", HOSTILE)):
                b.call("Network.setUserAgentOverride", {"userAgent": text})
                b.call("Network.setExtraHTTPHeaders", {"headers": {"Cookie": "c=" + text}})
                self.open(self.web.url("AC=ENV&%s=1" % urllib.parse.quote(text)), "env_" + kind)
                pages[kind] = b.eval(ELEMENTS), b.eval("document.body.innerText")
        finally:
            b.call("Network.setExtraHTTPHeaders", {"headers": {}})
            b.call("Network.setUserAgentOverride", {"userAgent": agent})
            b.call("Network.disable")
        self.assertEqual(pages["hostile"][0], pages["plain"][0])
        lines = pages["hostile"][1].split("\n")
        self.assertIn("HTTP_USER_AGENT=" + HOSTILE, lines)
        self.assertIn("HTTP_COOKIE=c=" + HOSTILE, lines)
        self.assertIn("QUERY_STRING=AC=ENV&%s=1" % urllib.parse.quote(HOSTILE), lines)


if __name__ == "__main__":
    unittest.main()

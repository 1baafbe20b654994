// Expected page text of the list writer, typed from the page descriptions
// independently of the writer's own formats: "%%" there is one '%' here.
#pragma once

namespace ruva::test {

// Up to and with the title element's start: DOCTYPE identifiers end in
// CR LF.
inline constexpr char kHeadStart[] =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\"\r\n"
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\r\n"
    "<html xmlns=\"http://www.w3.org/1999/xhtml\" xml:lang=\"en\" lang=\"en\">\n<head>\n<title>";

inline constexpr char kEucJpMeta[] =
    "<meta http-equiv=\"Content-type\" content=\"text/html; charset=euc-jp\">\n";

// Search style sheet outside collection mode: values (a)-(g) of the fixed
// head.
inline constexpr char kStyleSearchFixed[] =
    "<style type=\"text/css\">\n"
    "<!--\n"
    "#search_head{background-color:#ffffff;position:fixed;top:0px;left:0px;right:0px;padding:0px}\n"
    "#search_head_table{margin-top:0px;margin-left:0px;margin-right:0px;padding:0px;padding-top:3px;left:2px;"
    "right:2px;width:100%}\n"
    "#search_list{margin-top:0px;margin-left:0px;padding-top:2px;padding-bottom:0px;padding-left:0px;padding-"
    "right:0px;margin-right:0px}\n"
    "body{background-color:#ffffff;color:#000000;font-family:helvetica,arial,sans-serif;padding:0px;margin-"
    "left:0px;margin-right:0px}\n"
    "table{border-style:none;border-width:0px}\n"
    "th{padding-left:2px;padding-right:6px;}\n"
    "td{height:17px;padding-top:3px;padding-left:6px;padding-right:6px;vertical-align:top}\n"
    "td img{border-style:none;border-width:0px;float:left;margin:0px;padding:0px;padding-left:1px}\n"
    ".tdT{height:17px;padding-top:3px;padding-left:5px;padding-right:6px;vertical-align:top}\n"
    "a:link,a:visited{color:#004499;text-decoration:none}\n"
    "a:hover{color:#6699CC;text-decoration:none}\n"
    ".a2{cursor:pointer;float:left;padding-top:3px}\n"
    ".a3{cursor:text;float:left;padding-top:3px}\n"
    ".b1{background-color:#f6f6f6}\n"
    ".b2{background-color:#fcfcfc}\n"
    ".cx{color:#666666;font-size:70%;padding-left:22px}\n"
    "a.cy:link{color:#004499}\n"
    "a.cy:visited{color:#004499}\n"
    "a.cy:hover{color:#004499}\n"
    ".c1{color:#333333;font-size:75%;margin-left:2px}\n"
    ".ch{color:#333333;font-weight:bold}\n"
    ".hr{border:0;background-color:#c0c0c0;color:#c0c0c0;height:1px;width:100%}\n"
    ".hr2{border:0;background-color:#e5e5e5;color:#e5e5e5;height:1px;width:100%}\n"
    ".c3{color:#333333;font-size:75%;padding-left:6px;padding-right:6px;white-space:nowrap}\n"
    ".c4{color:#666666;font-size:80%;padding-left:8px;padding-right:4px;white-space:nowrap}\n"
    ".c5{background-color:#e5e5e5;color:#666666;font-size:10pt;height:40px;text-align:left;padding-left:6px}"
    "\n"
    ".c6{color:#000000;font-size:9pt;font-weight:bold;white-space:nowrap}\n"
    ".c7{color:#333333;font-size:75%;padding-left:2px;white-space:nowrap;border: solid 0 "
    "#ffffff;border-top-width:2px;font-weight:bold}\n"
    ".c8{color:#333333;font-size:75%;padding-left:6px;padding-right:6px;white-space:nowrap;border: solid 0 "
    "#ffffff;border-left-width:2px;border-top-width:2px;font-weight:bold;vertical-align:middle}\n"
    ".cs{color:#666666;font-size:75%;padding-left:21px}\n"
    ".ps{color:#666666;font-size:80%;padding-left:16px;padding-right:4px;white-space:nowrap}\n"
    ".d1{margin-left:21px;padding:0px}\n"
    ".s1{background-color:#e5e5e5;height:1px;margin:0px;padding:0px}\n"
    ".s2{background-color:#ffffff;height:62px;margin-top:52px;padding:0px}\n"
    ".u2{padding-top:3px;padding-right:0px;padding-bottom:0px;padding-left:0px;vertical-align:middle;text-"
    "align:center;font-size:8pt;color:#C0C0C0}\n"
    ".mt{margin-left:120px;vertical-align:middle}\n"
    ".mt_txt{color:#000000;font-weight:normal;padding-left:2px;vertical-align:middle}\n"
    ".sp{margin-left:35px;vertical-align:middle}\n"
    ".sp_txt{font-size:9pt;font-weight:normal;color:#333333;margin-left:2px;vertical-align:middle}\n"
    ".ht{color:#000000;font-size:9pt;font-weight:bold;white-space:nowrap}\n"
    ".sh1{color:#000000;font-size:9pt;font-weight:bold;white-space:nowrap}\n"
    ".sh1_nt{height:17px;padding-top:3px;padding-left:0px;padding-right:0px;vertical-align:top}\n"
    ".sh2{background-color:#e5e5e5;color:#666666;font-size:80%;font-weight:normal;padding-left:4px;padding-"
    "right:4px;white-space:nowrap;vertical-align:middle;height:30px;}\n"
    ".sf{color:#666666;font-size:80%;padding-left:60px;padding-right:2px;white-space:nowrap}\n"
    ".td_sy{padding-right:0px;text-align:right;font-weight:normal;}\n"
    ".img_df{padding-left:0px;padding-right:2px}\n"
    ".img_srt{border:0px;position:fixed;width:16px;height:16px}\n"
    ".img_srt_multi{border:0px;position:absolute;width:16px;height:16px}\n"
    ".s3{font-family:helvetica,arial,sans-serif;font-size:75%}\n"
    ".s4{font-size:90%}\n"
    ".zR{color:#666666;font-size:9pt;font-weight:normal;white-space:prewrap}\n"
    "-->\n"
    "</style>\n";

// Collection mode (SL given) changes the values (a)-(g): each pair is the
// fixed head's text and the collection's.
inline constexpr const char* kCollectionValues[][2] = {
    {"#search_head{background-color:#ffffff;position:fixed;top:0px;",
     "#search_head{background-color:#ffffff;top:0px;"},
    {"#search_head_table{margin-top:0px;", "#search_head_table{margin-top:-2px;"},
    {"padding:0px;padding-top:3px;left:2px;", "padding:0px;left:2px;"},
    {"#search_list{margin-top:0px;margin-left:0px;padding-top:2px;",
     "#search_list{margin-top:0px;margin-left:0px;padding-top:0px;"},
    {".s2{background-color:#ffffff;height:62px;margin-top:52px;",
     ".s2{background-color:#ffffff;height:0px;margin-top:0px;"},
    {".img_srt{border:0px;position:fixed;", ".img_srt{border:0px;position:absolute;"},
};

// Every other page; ends "</head>" with its line end.
inline constexpr char kStylePlain[] =
    "<style type=\"text/css\">\n"
    "<!--\n"
    "a:link, a:active, a:visited { color:#004499;text-decoration: none }\n"
    "a:hover{color:#6699CC;text-decoration:none}\n"
    "body { font-family: helvetica, arial, sans-serif }\n"
    "table{border-width:0}\n"
    "th{background-color:#e5e5e5;color:#333333;font-family:helvetica,arial,sans-serif;font-weight:normal;"
    "text-align:left;vertical-align:middle}\n"
    "td{color:#000000;font-family:helvetica,arial,sans-serif;vertical-align:top}\n"
    "input{vertical-align:middle}\n"
    "img{border-width:0}\n"
    ".m1{margin-left:2px;width:16px;height:16px}\n"
    ".m2{margin-left:8px}\n"
    ".m3{margin-left:35px}\n"
    ".m4{margin-left:100px}\n"
    ".m5{vertical-align:text-bottom;margin-left:2px;width:16px;height:20px}\n"
    ".b1{background-color:#fdfdfd}\n"
    ".b2{background-color:#f7f7f7}\n"
    ".c1{color:#333333;font-size:80%;padding-left:2px;padding-right:6px;border-top-width:2px}\n"
    ".c2{color:#333333;font-size:80%;padding-left:6px;padding-right:6px;white-space:nowrap}\n"
    ".c3{color:#333333;font-size:75%;padding-left:8px;padding-right:6px;white-space:nowrap; "
    "vertical-align:bottom}\n"
    ".c4{color:#666666;font-size:80%;padding-left:8px;padding-right:4px;white-space:nowrap; "
    "vertical-align:middle}\n"
    ".c5{color:#666666;font-size:80%;padding-left:60px;padding-right:2px;white-space:nowrap}\n"
    ".c6{color:#666666;font-size:80%;padding-left:4px;padding-right:4px;white-space:wrap}\n"
    ".c7{color:#333333;font-size:75%;padding-left:2px;padding-right:6px;white-space:nowrap;border: solid 0 "
    "#ffffff;border-top-width:2px}\n"
    ".c8{color:#333333;font-size:75%;padding-left:6px;padding-right:6px;white-space:nowrap;border: solid 0 "
    "#ffffff;border-left-width:2px;border-top-width:2px}\n"
    ".c9{color:#333333;font-size:75%;padding-left:2px;padding-right:0px;white-space:nowrap;border: solid 0 "
    "#ffffff;border-top-width:2px}\n"
    ".c10{color:#333333;font-size:80%;padding-left:6px;padding-right:6px;white-space:nowrap;border: solid 0 "
    "#ffffff;border-left-width:2px;border-top-width:2px}\n"
    ".c11{color:#333333;font-size:75%;padding-left:6px;padding-right:6px;white-space:nowrap;border: solid 0 "
    "#ffffff;border-left-width:2px;border-top-width:2px}\n"
    ".cs{color:#666666;font-size:95%}\n"
    ".cx{color:#666666;font-size:85%}\n"
    ".ch{color:#333333;font-weight:bold}\n"
    ".ca{color:#666666;font-size:80%;padding-left:4px;padding-right:4px;}\n"
    ".hr{color:#999999}\n"
    ".is1{margin-left:2px;cursor:hand};\n"
    "-->\n"
    "</style>\n"
    "</head>\n";

inline constexpr char kSearchBody[] =
    "<body bgcolor=\"#FFFFFF\" link=\"#004499\" vlink=\"#004499\" alink=\"#004499\" id=\"srchBody\" "
    "onload=\"if(self.name=='kivodoc'){var browser = new top.browserType();if(browser.isIE){"
    "top.kivomain.kivodoc.focus();}if(top.kivotbar) top.kivotbar.enableBut('b3'); if(top.kivomain && "
    "!top.OvrlyDisplyed){top.kivomain.togBnew(0);top.dynamicToolBar();} }\" "
    "onmousedown=\"if(self.name=='kivodoc'){ "
    "top.whichElement(event); }\">\n";

inline constexpr char kPlainBody[] =
    "<body bgcolor=\"#FFFFFF\" link=\"#004499\" vlink=\"#004499\" alink=\"#004499\" "
    "onload=\"if(self.name=='kivodoc'){ if(top.kivotbar) top.kivotbar.enableBut('b3'); "
    "if(top.kivomain){top.kivomain.togBnew(0);top.dynamicToolBar();} }\">\n";

inline constexpr char kCloseDoc[] = "<hr size=\"1\">\n</body></html>\n";

// A comparison row: library "lib2", a PDF member, no search fields.
inline constexpr char kPdfRow[] =
    "<tr class=\"b1\">\n"
    "<td class=\"c1\"><a href=\"qzl:/kivo?AC=LINK&amp;DB=lib2&amp;FN=1551-ABC10101Uen.A.pdf\">"
    "&nbsp;<img class=\"m5\" border=\"0\" align=\"top\" src=\"qzl:/kivo?VR=R19K&amp;AC=TBIMG&amp;IM=12\" "
    "alt=\"PDF document\" title=\"PDF document\"/>&nbsp; Guide &nbsp;</a></td>"
    "<td nowrap=\"nowrap\" class=\"c3\" valign=\"top\">1551-ABC 101 01 Uen&nbsp;A</td>\n"
    "</tr>\n";

}  // namespace ruva::test

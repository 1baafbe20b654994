// The list pages' style sheets, as formats for kvoPrintf: "%%" prints one
// '%'.
#pragma once

namespace ruva {

// Search pages, first half: values (a) to (d) of the page's mode, the
// fixed or the collection layout of the head.
inline constexpr char kSearchStyleSheetHead[] = R"(<style type="text/css">
<!--
#search_head{background-color:#ffffff;%stop:0px;left:0px;right:0px;padding:0px}
#search_head_table{margin-top:%s;margin-left:0px;margin-right:0px;padding:0px;%sleft:2px;right:2px;width:100%%}
#search_list{margin-top:0px;margin-left:0px;padding-top:%s;padding-bottom:0px;padding-left:0px;padding-right:0px;margin-right:0px}
body{background-color:#ffffff;color:#000000;font-family:helvetica,arial,sans-serif;padding:0px;margin-left:0px;margin-right:0px}
table{border-style:none;border-width:0px}
th{padding-left:2px;padding-right:6px;}
td{height:17px;padding-top:3px;padding-left:6px;padding-right:6px;vertical-align:top}
td img{border-style:none;border-width:0px;float:left;margin:0px;padding:0px;padding-left:1px}
.tdT{height:17px;padding-top:3px;padding-left:5px;padding-right:6px;vertical-align:top}
a:link,a:visited{color:#004499;text-decoration:none}
a:hover{color:#6699CC;text-decoration:none}
.a2{cursor:pointer;float:left;padding-top:3px}
.a3{cursor:text;float:left;padding-top:3px}
.b1{background-color:#f6f6f6}
.b2{background-color:#fcfcfc}
.cx{color:#666666;font-size:70%%;padding-left:22px}
a.cy:link{color:#004499}
a.cy:visited{color:#004499}
a.cy:hover{color:#004499}
.c1{color:#333333;font-size:75%%;margin-left:2px}
.ch{color:#333333;font-weight:bold}
.hr{border:0;background-color:#c0c0c0;color:#c0c0c0;height:1px;width:100%%}
.hr2{border:0;background-color:#e5e5e5;color:#e5e5e5;height:1px;width:100%%}
.c3{color:#333333;font-size:75%%;padding-left:6px;padding-right:6px;white-space:nowrap}
.c4{color:#666666;font-size:80%%;padding-left:8px;padding-right:4px;white-space:nowrap}
.c5{background-color:#e5e5e5;color:#666666;font-size:10pt;height:40px;text-align:left;padding-left:6px}
.c6{color:#000000;font-size:9pt;font-weight:bold;white-space:nowrap}
.c7{color:#333333;font-size:75%%;padding-left:2px;white-space:nowrap;border: solid 0 #ffffff;border-top-width:2px;font-weight:bold}
.c8{color:#333333;font-size:75%%;padding-left:6px;padding-right:6px;white-space:nowrap;border: solid 0 #ffffff;border-left-width:2px;border-top-width:2px;font-weight:bold;vertical-align:middle}
.cs{color:#666666;font-size:75%%;padding-left:21px}
.ps{color:#666666;font-size:80%%;padding-left:16px;padding-right:4px;white-space:nowrap}
)";

// Search pages, second half: values (e) to (g). The s4 rule prints a
// single '%' like the others.
inline constexpr char kSearchStyleSheetTail[] = R"(.d1{margin-left:21px;padding:0px}
.s1{background-color:#e5e5e5;height:1px;margin:0px;padding:0px}
.s2{background-color:#ffffff;height:%s;margin-top:%s;padding:0px}
.u2{padding-top:3px;padding-right:0px;padding-bottom:0px;padding-left:0px;vertical-align:middle;text-align:center;font-size:8pt;color:#C0C0C0}
.mt{margin-left:120px;vertical-align:middle}
.mt_txt{color:#000000;font-weight:normal;padding-left:2px;vertical-align:middle}
.sp{margin-left:35px;vertical-align:middle}
.sp_txt{font-size:9pt;font-weight:normal;color:#333333;margin-left:2px;vertical-align:middle}
.ht{color:#000000;font-size:9pt;font-weight:bold;white-space:nowrap}
.sh1{color:#000000;font-size:9pt;font-weight:bold;white-space:nowrap}
.sh1_nt{height:17px;padding-top:3px;padding-left:0px;padding-right:0px;vertical-align:top}
.sh2{background-color:#e5e5e5;color:#666666;font-size:80%%;font-weight:normal;padding-left:4px;padding-right:4px;white-space:nowrap;vertical-align:middle;height:30px;}
.sf{color:#666666;font-size:80%%;padding-left:60px;padding-right:2px;white-space:nowrap}
.td_sy{padding-right:0px;text-align:right;font-weight:normal;}
.img_df{padding-left:0px;padding-right:2px}
.img_srt{border:0px;%swidth:16px;height:16px}
.img_srt_multi{border:0px;position:absolute;width:16px;height:16px}
.s3{font-family:helvetica,arial,sans-serif;font-size:75%%}
.s4{font-size:90%%}
.zR{color:#666666;font-size:9pt;font-weight:normal;white-space:prewrap}
-->
</style>
)";

// Every other page: %s is the body font; ends with "</head>".
inline constexpr char kPlainStyleSheet[] = R"(<style type="text/css">
<!--
a:link, a:active, a:visited { color:#004499;text-decoration: none }
a:hover{color:#6699CC;text-decoration:none}
body { font-family: %s }
table{border-width:0}
th{background-color:#e5e5e5;color:#333333;font-family:helvetica,arial,sans-serif;font-weight:normal;text-align:left;vertical-align:middle}
td{color:#000000;font-family:helvetica,arial,sans-serif;vertical-align:top}
input{vertical-align:middle}
img{border-width:0}
.m1{margin-left:2px;width:16px;height:16px}
.m2{margin-left:8px}
.m3{margin-left:35px}
.m4{margin-left:100px}
.m5{vertical-align:text-bottom;margin-left:2px;width:16px;height:20px}
.b1{background-color:#fdfdfd}
.b2{background-color:#f7f7f7}
.c1{color:#333333;font-size:80%%;padding-left:2px;padding-right:6px;border-top-width:2px}
.c2{color:#333333;font-size:80%%;padding-left:6px;padding-right:6px;white-space:nowrap}
.c3{color:#333333;font-size:75%%;padding-left:8px;padding-right:6px;white-space:nowrap; vertical-align:bottom}
.c4{color:#666666;font-size:80%%;padding-left:8px;padding-right:4px;white-space:nowrap; vertical-align:middle}
.c5{color:#666666;font-size:80%%;padding-left:60px;padding-right:2px;white-space:nowrap}
.c6{color:#666666;font-size:80%%;padding-left:4px;padding-right:4px;white-space:wrap}
.c7{color:#333333;font-size:75%%;padding-left:2px;padding-right:6px;white-space:nowrap;border: solid 0 #ffffff;border-top-width:2px}
.c8{color:#333333;font-size:75%%;padding-left:6px;padding-right:6px;white-space:nowrap;border: solid 0 #ffffff;border-left-width:2px;border-top-width:2px}
.c9{color:#333333;font-size:75%%;padding-left:2px;padding-right:0px;white-space:nowrap;border: solid 0 #ffffff;border-top-width:2px}
.c10{color:#333333;font-size:80%%;padding-left:6px;padding-right:6px;white-space:nowrap;border: solid 0 #ffffff;border-left-width:2px;border-top-width:2px}
.c11{color:#333333;font-size:75%%;padding-left:6px;padding-right:6px;white-space:nowrap;border: solid 0 #ffffff;border-left-width:2px;border-top-width:2px}
.cs{color:#666666;font-size:95%%}
.cx{color:#666666;font-size:85%%}
.ch{color:#333333;font-weight:bold}
.ca{color:#666666;font-size:80%%;padding-left:4px;padding-right:4px;}
.hr{color:#999999}
.is1{margin-left:2px;cursor:hand};
-->
</style>
</head>
)";

}  // namespace ruva

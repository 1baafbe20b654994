// The built-in entity tables, row by row in their load order.
#include "bmod/ruvaserv/sgml/entity.h"

namespace ruva {

const std::array<EntityRow, kCharEntityRows> charEntities = {{
    {"ast", "*"},     {"boxdl", "\\"}, {"boxdr", "/"},  {"boxh", "-"},   {"boxhd", "-"},  {"boxhu", "-"},
    {"boxul", "/"},   {"boxur", "\\"}, {"boxv", "|"},   {"boxvh", "+"},  {"boxvl", "+"},  {"boxvr", "+"},
    {"bsol", "\\"},   {"colon", ":"},  {"commat", "@"}, {"dollar", "$"}, {"emsp", " "},   {"ensp", " "},
    {"equals", "="},  {"ge", "&gt;="}, {"gml", ":"},    {"grave", "`"},  {"harr", "->"},  {"hellip", "..."},
    {"inches", "\""}, {"larr", "<-"},  {"lcub", "{"},   {"ldquo", "\""}, {"le", "&lt;="}, {"lowbar", "_"},
    {"lpar", "("},    {"lsqb", "["},   {"lsquo", "`"},  {"mdash", "-"},  {"minus", "-"},  {"ndash", "-"},
    {"num", "#"},     {"numsp", " "},  {"ohm", "ohm"},  {"percnt", "%"}, {"period", "."}, {"plus", "+"},
    {"rarr", "->"},   {"rcub", "}"},   {"rdquo", "\""}, {"rpar", ")"},   {"rsqb", "]"},   {"rsquo", "'"},
    {"semi", ";"},    {"shy", "-"},    {"sol", "/"},    {"thinsp", ""},  {"tilde", "~"},  {"trade", "(TM)"},
    {"verbar", "|"},  {"uarr", "|"},
}};

const std::array<EntityRow, kLineEntityRows> lineEntities = {{
    {"boxv", "\x80"},
    {"boxvl", "\x81"},
    {"boxdl", "\x82"},
    {"boxur", "\x83"},
    {"boxhu", "\x84"},
    {"boxhd", "\x85"},
    {"boxvr", "\x86"},
    {"boxh", "\x87"},
    {"boxvh", "\x88"},
    {"boxul", "\x89"},
    {"boxdr", "\x8a"},
}};

const std::array<EntityRow, kIsoEntityRows> charEntitiesISO_8859_1 = {{
    {"acute", "\xb4"},  {"thorn", "\xfe"},  {"THORN", "\xde"},  {"uacute", "\xfa"}, {"ugrave", "\xf9"},
    {"ucirc", "\xfb"},  {"uuml", "\xfc"},   {"Uacute", "\xda"}, {"Ucirc", "\xdb"},  {"Ugrave", "\xd9"},
    {"Uuml", "\xdc"},   {"ygrave", "\xfd"}, {"yuml", "\xff"},   {"Yacute", "\xdd"}, {"aacute", "\xe1"},
    {"agrave", "\xe0"}, {"acirc", "\xe2"},  {"atilde", "\xe3"}, {"auml", "\xe4"},   {"aring", "\xe5"},
    {"aelig", "\xe6"},  {"Aacute", "\xc1"}, {"Agrave", "\xc0"}, {"Acirc", "\xc2"},  {"Atilde", "\xc3"},
    {"Auml", "\xc4"},   {"Aring", "\xc5"},  {"AElig", "\xc6"},  {"bull", "\xb7"},   {"cent", "\xa2"},
    {"curren", "\xa4"}, {"ccedil", "\xe7"}, {"Ccedil", "\xc7"}, {"deg", "\xb0"},    {"eacute", "\xe9"},
    {"egrave", "\xe8"}, {"ecirc", "\xea"},  {"euml", "\xeb"},   {"eth", "\xf0"},    {"ETH", "\xd0"},
    {"Eacute", "\xc9"}, {"Ecirc", "\xca"},  {"Egrave", "\xc8"}, {"Euml", "\xcb"},   {"iacute", "\xed"},
    {"icirc", "\xee"},  {"igrave", "\xec"}, {"iuml", "\xef"},   {"Iacute", "\xcd"}, {"Icirc", "\xce"},
    {"Igrave", "\xcc"}, {"Iuml", "\xcf"},   {"micro", "\xb5"},  {"ntilde", "\xf1"}, {"Ntilde", "\xd1"},
    {"ograve", "\xf2"}, {"oacute", "\xf3"}, {"ocirc", "\xf4"},  {"otilde", "\xf5"}, {"ouml", "\xf6"},
    {"oslash", "\xf8"}, {"Oacute", "\xd3"}, {"Ograve", "\xd2"}, {"Ocirc", "\xd4"},  {"Oslash", "\xd8"},
    {"Otilde", "\xd5"}, {"Ouml", "\xd6"},   {"plusmn", "\xb1"}, {"pound", "\xa3"},  {"reg", "\xae"},
    {"ring", "\xb0"},   {"szlig", "\xdf"},  {"sect", "\xa7"},   {"times", "\xd7"},
}};

}  // namespace ruva

// Header blocks of the front end's pages.
//
// Each result is a printf format, not page text: every '%' of the page,
// those of the title included, is doubled, so that one formatting pass
// without arguments prints the page text exactly ("100%%" prints 100%). A
// title holding "%s" or "%n" therefore cannot inject a conversion. A null
// title counts as "".
#pragma once

#include <string>
#include <string_view>

namespace ruva {

// The title table that opens a page; complete.
std::string makeHtmlMainHeader(const char* title);

// Opens the divisions search_head and search_head_table, a table and a
// header cell spanning `columns` columns with the title in bold; the row,
// the inner table, the outer table and both divisions stay open for the
// caller to continue and close.
std::string makeHtmlSearchHeader(const char* title, int columns);

// The comparison list header: the title in bold in class c4, inside an
// outer table that stays open.
std::string makeHtmlCompareHeader(const char* title);

// The page text of such a format: each "%%" becomes "%", read from the left
// ("%%%%" gives "%%"); every other '%' is kept as it stands. A plain
// substitution rather than a formatting pass, so a stray conversion in the
// text is printed, never executed.
std::string undoublePercents(std::string_view format);

}  // namespace ruva

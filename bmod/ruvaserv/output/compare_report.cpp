#include <algorithm>
#include <limits>
#include <new>
#include <tuple>

#include "bmod/ruvaserv/cgi/cgihandler.h"
#include "bmod/ruvaserv/cgi/kvo_msg.h"
#include "bmod/ruvaserv/output/compare.h"
#include "bmod/ruvaserv/output/htmloutput.h"
#include "bmod/ruvaserv/sgml/sdi.h"
#include "common/docmodel/docno.h"
#include "common/docmodel/qox_doctype.h"

namespace ruva {

namespace {

constexpr const char* kOtherDocuments = "Other Documents";
constexpr const char* kSpacerRow = "<tr><td height=\"11\" colspan=\"2\"></td></tr>\n";
constexpr int kFirstRowNum = 48;  // even: every section starts with shade "b1"
// The icon of the second (side 1) row of a changed pair.
constexpr int kIconCodeChangedOld = '6';

const char* textOf(const std::optional<std::string>& text) {
    return text ? text->c_str() : nullptr;
}

// The member name a row links to, "stem.rev.*"; none when the number has no
// revision or names no member.
std::optional<std::string> rowFileName(const SdiEntry& entry) {
    std::string art;
    std::string rev;
    if (!entry.docno || docnoToArtRev(entry.docno->c_str(), art, rev) != 1) return std::nullopt;
    return docnoToFilename(art.c_str(), rev.c_str(), "");
}

bool reportOrder(const ResultRow& a, const ResultRow& b) {
    return std::tie(a.group, a.decclass, a.status, a.order) <
           std::tie(b.group, b.decclass, b.status, b.order);
}

std::size_t addSaturated(std::size_t a, std::size_t b) {
    return a > std::numeric_limits<std::size_t>::max() - b ? std::numeric_limits<std::size_t>::max() : a + b;
}

}  // namespace

std::string compareSectionName(const std::string& fileName) {
    if (fileName.empty()) return kOtherDocuments;
    const std::string name = getQoxDoctypeString(docnoToQoxDoctype(fileName.c_str()));
    return name == "ZUnknown" ? kOtherDocuments : name;
}

// The report's writing half; one per generateList.
class SdiCompare::ReportWriter {
public:
    ReportWriter(SdiCompare& sc, KvoFormat& alf) : sc_(sc), alf_(alf) {}

    void reportList(const std::vector<ResultRow>& rows);

private:
    void startRecord(const ResultRow& row, const std::optional<std::string>& fileName);
    void writeRow(const SdiEntry& entry, const std::optional<std::string>& fileName,
                  const std::string& library, int iconCode, const std::string& blockKey);

    SdiCompare& sc_;
    KvoFormat& alf_;
};

// A section per (group, class); in it a spacer on each change of status and
// before each changed pair, never right under the header.
void SdiCompare::ReportWriter::startRecord(const ResultRow& row, const std::optional<std::string>& fileName) {
    ReportState& st = sc_.report;
    const char status = static_cast<char>(row.status);
    if (row.group != st.rl_type || row.decclass != st.rl_old_decc) {
        const int space = st.rl_type == '0' ? 0 : 1;
        st.rl_old_decc = row.decclass;
        alf_.writeListingInterHeader(compareSectionName(fileName.value_or("")).c_str(), "", space);
        st.rl_firstRow = 1;
        st.rl_rowNum = kFirstRowNum;
        st.rl_pair = 0;
    } else if (status != st.rl_status || (row.status == DocStatus::kChanged && st.rl_pair == 0)) {
        alf_.writeRow(kSpacerRow);
    }
    st.rl_type = row.group;
    st.rl_status = status;
}

void SdiCompare::ReportWriter::writeRow(const SdiEntry& entry, const std::optional<std::string>& fileName,
                                        const std::string& library, int iconCode,
                                        const std::string& blockKey) {
    ReportState& st = sc_.report;
    const int colour = st.rl_rowNum % 2;
    if (fileName) {
        alf_.writeDocRow(library.c_str(), fileName->c_str(), 1, &st.rl_firstRow, textOf(entry.title),
                         textOf(entry.engtitle), nullptr, 0, colour, iconCode);
    } else {
        // A difference without a member to link to is still shown.
        alf_.writeDocRowNoLink(textOf(entry.title), textOf(entry.engtitle), textOf(entry.docno), colour,
                               iconCode);
    }
    ++st.rl_rowNum;
    if (sc_.isCodPodSelected && !blockKey.empty()) {
        if (const std::string* blocks = sc_.cpCmp_->findResult(blockKey))
            alf_.writeTableCellRow(blocks->c_str());
    }
}

// A changed pair is one record: the new row, then directly the old one.
void SdiCompare::ReportWriter::reportList(const std::vector<ResultRow>& rows) {
    for (const ResultRow& row : rows) {
        const std::optional<std::string> fileName = rowFileName(*row.entry);
        startRecord(row, fileName);
        switch (row.status) {
            case DocStatus::kNew:
                writeRow(*row.entry, fileName, sc_.database2, static_cast<int>(DocStatus::kNew),
                         row.blockKey);
                break;
            case DocStatus::kRemoved:
                writeRow(*row.entry, fileName, sc_.database1, static_cast<int>(DocStatus::kRemoved),
                         row.blockKey);
                break;
            default:
                writeRow(*row.entry, fileName, sc_.database2, static_cast<int>(DocStatus::kChanged),
                         row.blockKey);
                sc_.report.rl_pair = 1;
                writeRow(*row.oldEntry, rowFileName(*row.oldEntry), sc_.database1, kIconCodeChangedOld,
                         row.oldBlockKey);
                sc_.report.rl_pair = 0;
                break;
        }
    }
}

SdiCompareCode SdiCompare::generateList(std::vector<ResultRow>& rows) {
    std::sort(rows.begin(), rows.end(), reportOrder);
    std::size_t nodes = 0;
    for (const ResultRow& row : rows) nodes += row.oldEntry != nullptr ? 2 : 1;
    std::size_t size = alf_.estimateBufferSize(nodes);
    if (isCodPodSelected) size = addSaturated(size, cpCmp_->getResultsSize());
    KvoOutput& ao = *alf_.ao;
    // An unopened page would be reported as an empty success.
    if (ao.kvoOpenOutput(size) != kKvoOpenOk) {
        setError("%s", ao.cg->getError());
        return SdiCompareCode::kGenerateList;
    }
    report = ReportState{};
    alf_.openDoc("Compare Results", languageCode.empty() ? nullptr : languageCode.c_str());
    alf_.writeListingHeader("Compare Results");
    alf_.writeCompareHeader(dbTitle1.c_str(), dbTitle2.c_str());
    alf_.writeListingHeadTitles();
    if (rows.empty()) {
        alf_.writeListingSubHeader("No differences found !", 1);
    } else {
        try {
            ReportWriter(*this, alf_).reportList(rows);
        } catch (const std::bad_alloc&) {
            setError(msgFormat(149, "compare/1"));
            return SdiCompareCode::kGenerateList;
        }
        alf_.closeList();
    }
    alf_.writeRow("<tr><td colspan=\"2\">\n");
    alf_.writeHorizontalDivider();
    alf_.writeRow("</td></tr>\n</table></body></html>\n");
    ao.kvoCloseOutput();
    return SdiCompareCode::kOk;
}

}  // namespace ruva

#include "smis/RkCimUtil.h"

std::string RkCimUtil::GetErrorMessage(unsigned int code, std::string methodName) const {
    const std::string notFound = "Error code not found!";
    if (!m_pRetCodeTable) return notFound;
    const RkRetCodeText* row = m_pRetCodeTable;
    for (; row->code != 0; ++row)
        if (row->code == code) break;
    if (row->code == 0 || !row->text) return notFound;
    std::string text = row->text;
    if (text.empty() || text[0] != '*') return text;
    if (methodName.empty()) return notFound;
    size_t at = text.find(methodName);
    if (at == std::string::npos) return notFound;
    // Skip the name and the one character after it (the ':').
    size_t start = at + methodName.size() + 1;
    if (start > text.size()) return "SMI-S Method specific error code..";
    size_t end = text.find(',', start);
    std::string specific =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (specific.empty()) return "SMI-S Method specific error code..";
    return specific;
}

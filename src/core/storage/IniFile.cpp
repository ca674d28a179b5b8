#include "core/storage/IniFile.h"

#include "core/storage/IniDocument.h"

namespace quindel {

void IniFile::setFileName(const std::string& strFile) {
    fileName_ = trimSpaces(strFile);
}

void IniFile::setSection(const std::string& strAppKey) {
    applicationKey_ = trimSpaces(strAppKey);
}

std::string IniFile::value(const std::string& keyName, const std::string& strDefault) const {
    IniDocument doc;
    if (fileName_.empty() || !loadIniFile(fileName_, doc))
        return deliverValue(strDefault);
    return readDelivered(doc, applicationKey_, keyName, strDefault);
}

bool IniFile::setValue(const std::string& keyName, const std::string& strValue) {
    IniDocument doc;
    // A file that exists but cannot be read is left alone: writing it from an empty document
    // would throw away everything else it holds.
    if (fileName_.empty() || !loadIniFile(fileName_, doc))
        return false;
    doc.set(applicationKey_, keyName, strValue);
    return replaceFileAtomically(fileName_, doc.serialize());
}

} // namespace quindel

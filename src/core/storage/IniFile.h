#pragma once

#include <string>

namespace quindel {

// Reads and writes single keys of one section of one INI file. Every call goes to the file;
// nothing is cached. Writes replace the file atomically, so a failed write leaves the old
// file as it was.
class IniFile {
  public:
    const std::string& fileName() const { return fileName_; }
    void setFileName(const std::string& strFile);
    const std::string& section() const { return applicationKey_; }
    void setSection(const std::string& strAppKey);

    // The value of keyName in section ApplicationKey, or strDefault when the file, the
    // section or the key is missing. At most 999 characters, leading and trailing spaces
    // removed, control characters deleted.
    std::string value(const std::string& keyName, const std::string& strDefault) const;
    // Writes strValue as the value of keyName; true when the file was written.
    bool setValue(const std::string& keyName, const std::string& strValue);

  private:
    std::string fileName_;
    std::string applicationKey_;
};

} // namespace quindel

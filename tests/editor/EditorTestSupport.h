#pragma once

#include "engine/RuntimeState.h"
#include "storage/gestioneFileIni.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace quindel::test {

// A fresh runtime state whose program folder is a temporary folder, in Italian.
class EditorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        state.programFolder = dir.path().toStdString();
        bindSettingsIni(state);
        state.languageIndex = kItalian;
        loadLanguageTexts(state.texts, kItalian);
    }

    std::string path(const std::string& name) const { return state.programFolder + "/" + name; }

    void writeFile(const std::string& name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
    }

    std::string readFile(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // A group file with one action section per description: key codes 65, 66, ..., points
    // (10 * n, 20 * n), and the given sequence positions (0 when the list is shorter).
    void writeGroup(const std::string& name, const std::vector<std::string>& descriptions,
                    const std::vector<int>& positions = {}) const {
        std::string text = "[main]\r\nnome=" + name + "\r\n[tasto-next]\r\ntasto=78\r\n" +
                           "[tasto-prev]\r\ntasto=80\r\n";
        for (std::size_t i = 0; i < descriptions.size(); ++i) {
            const std::string n = std::to_string(i + 1);
            const std::string section = "tasto-" + std::string(3 - n.size(), '0') + n;
            text += "[" + section + "]\r\nordine=" + n + "\r\ntasto=" + std::to_string(65 + i) +
                    "\r\ntipo=1\r\nxx=" + std::to_string(10 * (i + 1)) +
                    "\r\nyy=" + std::to_string(20 * (i + 1)) +
                    "\r\nsequenza=" + std::to_string(i < positions.size() ? positions[i] : 0) +
                    "\r\ndescrizione=" + descriptions[i] + "\r\n";
        }
        writeFile("gruppo-" + name + ".ini", text);
    }

    QTemporaryDir dir;
    RuntimeState state;
};

} // namespace quindel::test

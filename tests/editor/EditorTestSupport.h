#pragma once

#include "engine/RuntimeState.h"
#include "storage/gestioneFileIni.h"

#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace quindel::test {

using Rows = std::vector<std::string>;

// A window whose message boxes are recorded instead of shown.
template <typename Window> class Recording : public Window {
  public:
    using Window::Window;
    Rows messages;
    void showMessage(const QString& text) override { messages.push_back(text.toStdString()); }
};

// A fresh runtime state, in Italian, whose program folder is a temporary folder.
class EditorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        state.programFolder = dir.path().toStdString();
        bindSettingsIni(state);
        loadLanguageTexts(state.texts, kItalian);
    }

    std::string path(const std::string& name) const { return state.programFolder + "/" + name; }
    std::string readFile(const std::string& name) const {
        std::ifstream file(path(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }

    // A group whose action n (from 1) has key 64 + n, point (10n, 20n) and the given
    // sequence position (0 beyond the list); next is 78 and prev 80.
    void writeGroup(const std::string& name, const Rows& descriptions,
                    const std::vector<int>& positions = {}) const {
        std::string text = "[main]\r\nnome=" + name + "\r\n[tasto-next]\r\ntasto=78\r\n" +
                           "[tasto-prev]\r\ntasto=80\r\n";
        for (std::size_t i = 1; i <= descriptions.size(); ++i) {
            const std::string n = std::to_string(i);
            text += "[tasto-00" + n + "]\r\nordine=" + n + "\r\ntasto=" + std::to_string(64 + i) +
                    "\r\ntipo=1\r\nxx=" + std::to_string(10 * i) +
                    "\r\nyy=" + std::to_string(20 * i) +
                    "\r\nsequenza=" + std::to_string(i <= positions.size() ? positions[i - 1] : 0) +
                    "\r\ndescrizione=" + descriptions[i - 1] + "\r\n";
        }
        std::ofstream(path("gruppo-" + name + ".ini"), std::ios::binary) << text;
    }

    QTemporaryDir dir;
    RuntimeState state;
};

} // namespace quindel::test

#pragma once

#include <QString>

#include <cstdint>

class QWidget;

namespace quindel {

// The title of every message and input box of the program.
inline const QString kMessageTitle = QStringLiteral("Quindel");

// Loads Qt's own texts (the standard buttons of message and input boxes) for the interface
// language, languageIndex 1 Italian or 2 English, in place of those of the language before.
// False when the language's translations are not installed; the buttons then stay in English.
bool useQtTranslations(uint8_t languageIndex);

// Draws a frame along the edges of a window of fixed size, so that it stands out from what
// lies behind it also where no window manager frames it.
void giveOwnFrame(QWidget* window);

} // namespace quindel

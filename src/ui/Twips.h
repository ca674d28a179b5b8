#pragma once

#include <QRect>

namespace quindel {

// Window layouts are given in twips; 15 twips make one pixel.
constexpr int twipsToPixels(int twips) {
    return twips / 15;
}

inline QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

} // namespace quindel

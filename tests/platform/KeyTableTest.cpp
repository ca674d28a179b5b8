// GoogleTest comes before the X headers, whose macros (None, Bool) clash with it.
#include <gtest/gtest.h>

#include "engine/moduloMoveMouse.h"
#include "platform/x11/KeyTable.h"
#include "platform/x11/X11Platform.h"
#include "support/FakePlatform.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <map>
#include <set>

namespace quindel {
namespace {

TEST(KeyTable, EveryEntryRoundTripsAndNoCodeOrKeysymRepeats) {
    std::set<int> codes;
    std::set<uint32_t> keysyms;
    for (const KeyTableEntry& e : keyTable()) {
        EXPECT_EQ(virtualKeyFromKeysym(e.keysym), e.virtualKey) << std::hex << e.keysym;
        EXPECT_EQ(keysymFromVirtualKey(e.virtualKey), e.keysym) << e.virtualKey;
        EXPECT_TRUE(codes.insert(e.virtualKey).second) << "code twice: " << e.virtualKey;
        EXPECT_TRUE(keysyms.insert(e.keysym).second) << "keysym twice: " << e.keysym;
        EXPECT_GT(e.virtualKey, 0);
        EXPECT_LT(e.virtualKey, 256);
    }
    for (const KeyTableEntry& e : keyTableAliases()) {
        EXPECT_TRUE(keysyms.insert(e.keysym).second) << "alias keysym twice: " << e.keysym;
        EXPECT_EQ(virtualKeyFromKeysym(e.keysym), e.virtualKey) << std::hex << e.keysym;
        // An alias leads to a code that some key of the table carries.
        EXPECT_TRUE(codes.count(e.virtualKey)) << e.virtualKey;
    }
}

TEST(KeyTable, AliasesAndUnknownKeys) {
    // Names that differ from the table's own: lower case, shifted, keypad without Num Lock.
    const std::map<uint32_t, int> expected = {
        {XK_a, 65},       {XK_z, 90},        {XK_exclam, 49},      {XK_parenright, 48},
        {XK_KP_End, 97},  {XK_KP_Enter, 13}, {XK_ISO_Left_Tab, 9}, {XK_colon, 186},
        {XK_Meta_L, 164}, {XK_F24, 135},     {XK_Shift_R, 161},    {XK_Scroll_Lock, 145}};
    for (const auto& [keysym, code] : expected)
        EXPECT_EQ(virtualKeyFromKeysym(keysym), code) << XKeysymToString(keysym);
    EXPECT_EQ(virtualKeyFromKeysym(XK_eacute), 0);
    EXPECT_EQ(virtualKeyFromKeysym(0), 0);
    // The generic modifier codes lead to the left-hand key.
    EXPECT_EQ(keysymFromVirtualKey(16), static_cast<uint32_t>(XK_Shift_L));
    EXPECT_EQ(keysymFromVirtualKey(17), static_cast<uint32_t>(XK_Control_L));
    EXPECT_EQ(keysymFromVirtualKey(18), static_cast<uint32_t>(XK_Alt_L));
    for (int code : {0, 1, 7, 255, 256, -1, 100000})
        EXPECT_EQ(keysymFromVirtualKey(code), 0u) << code;
}

// Pixel -> absolute (as the engine computes it) -> pixel (as the backend maps it back) gives
// the same pixel for every pixel of the screen, on screens of many sizes.
TEST(PixelMapping, EveryPixelComesBackExactly) {
    test::FakePlatform platform;
    for (int extent : {1, 2, 3, 640, 768, 800, 1024, 1080, 1280, 1366, 1920, 2160, 2560, 3840, 5120,
                       7680, 16384}) {
        platform.size = {extent, extent};
        int wrong = 0;
        for (int pixel = 0; pixel < extent; ++pixel)
            if (pixelFromAbsolute(toAbsoluteX(platform, pixel), extent) != pixel)
                ++wrong;
        EXPECT_EQ(wrong, 0) << "screen extent " << extent;
    }
}

TEST(PixelMapping, KeepsPointsOnTheScreen) {
    EXPECT_EQ(pixelFromAbsolute(65535, 1920), 1919);
    EXPECT_EQ(pixelFromAbsolute(0, 1920), 0);
    EXPECT_EQ(pixelFromAbsolute(-32768, 1920), 0);
    EXPECT_EQ(pixelFromAbsolute(131070, 1920), 1919);
    EXPECT_EQ(pixelFromAbsolute(2147483647, 1920), 1919);
    EXPECT_EQ(pixelFromAbsolute(-2147483647 - 1, 1920), 0);
    EXPECT_EQ(pixelFromAbsolute(32768, 0), 0);
    EXPECT_EQ(pixelFromAbsolute(32768, -3), 0);
}

} // namespace
} // namespace quindel

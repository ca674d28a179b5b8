// main() of the tests that need a Qt application object; QUINDEL_TEST_APPLICATION names its
// class (QCoreApplication, or QApplication for widgets).
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QUINDEL_TEST_APPLICATION app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

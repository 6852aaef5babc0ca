// The recording tests need the toolkit's base (strings, dates, XML), never a display.

#include <gtest/gtest.h>
#include <wx/init.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const wxInitializer toolkit;
    if (!toolkit.IsOk())
        return 1;
    return RUN_ALL_TESTS();
}

// Linked into the dialog's test programs: real widgets on Qt's offscreen platform unless the
// environment names another one, so that a test program runs on its own, without a display, as
// it runs under ctest. Set before main, and so before the application object exists.

#include <cstdlib>

namespace {

const bool kOffscreen = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", /*overwrite=*/0);
    return true;
}();

} // namespace

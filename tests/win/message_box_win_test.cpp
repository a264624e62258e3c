// message_box under Wine: the plain OK box with the catalogue text, or no box at all.
#include "common/message_box_win.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace talvex {
namespace {

constexpr char kCaption[] = "Talvex Capture";

TEST(MessageBox, NumbersOutsideTheCatalogueOrNoCaptionShowNothing) {
  EXPECT_EQ(message_box(nullptr, kCaption, 55), 55);
  EXPECT_EQ(message_box(nullptr, kCaption, -1), -1);
  EXPECT_EQ(message_box(nullptr, nullptr, 54), 54);
}

TEST(MessageBox, ShowsTheTextWithOneOkButton) {
  std::string seen_text;
  bool has_cancel = true;
  std::thread dismisser([&] {
    for (int i = 0; i < 200; ++i) {
      if (HWND box = ::FindWindowA("#32770", kCaption)) {
        char text[256] = {};
        ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        seen_text = text;
        has_cancel = ::GetDlgItem(box, IDCANCEL) != nullptr || ::GetDlgItem(box, IDNO) != nullptr;
        ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return;
      }
      ::Sleep(50);
    }
  });
  const int result = message_box(nullptr, kCaption, 25);
  dismisser.join();
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(seen_text, "Unable to find \"configuration file\". Using defaults. (025)");
  EXPECT_FALSE(has_cancel);
}

}  // namespace
}  // namespace talvex

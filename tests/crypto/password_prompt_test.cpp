// The password prompt: the script hook in both builds, the Linux build's answer without a
// window, and in the Windows build the dialog's layout as the template makes it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/password_dialog.h"

using namespace klv::platform;

namespace {
// Leaves no script behind for the next test.
struct ScriptGuard {
    ~ScriptGuard() { SetPasswordPromptScript(nullptr); }
};
} // namespace

TEST(PasswordPrompt, ScriptAnswersInsteadOfTheDialog) {
    ScriptGuard guard;
    std::vector<std::string> seen;
    SetPasswordPromptScript(
        [&](const std::string& caption, const std::string& label, std::string& password) {
            seen.push_back(caption + "|" + label + "|" + password);
            if (seen.size() == 1) {
                password = "ge\xEFnstalleerd";
                return true;
            }
            return false; // Cancel
        });
    std::string password = "old";
    EXPECT_TRUE(AskPassword("Password for \"a/b.txt\"", "Enter password: ", password));
    EXPECT_EQ(password, "ge\xEFnstalleerd");
    password = "kept";
    EXPECT_FALSE(AskPassword("Password for \"c.txt\"", "Enter password: ", password));
    EXPECT_EQ(password, "kept");
    EXPECT_EQ(seen, (std::vector<std::string>{"Password for \"a/b.txt\"|Enter password: |old",
                                              "Password for \"c.txt\"|Enter password: |kept"}));
}

#ifndef _WIN32
TEST(PasswordPrompt, WithoutAScriptLinuxSkips) {
    SetPasswordPromptScript([](const std::string&, const std::string&, std::string& p) {
        p = "x";
        return true;
    });
    SetPasswordPromptScript(nullptr); // back to the real prompt
    std::string password = "unchanged";
    EXPECT_FALSE(AskPassword("Password for \"x\"", "Enter password: ", password));
    EXPECT_EQ(password, "unchanged");
}
#else
namespace {
const PasswordDialogControl* Find(const PasswordDialogLayout& l, int id) {
    for (const auto& c : l.controls)
        if (c.id == id) return &c;
    return nullptr;
}

// A rectangle in dialog units against one in pixels, with a pixel of rounding either way.
void ExpectAt(const PasswordDialogLayout& l, const PasswordDialogControl* c, int x, int y, int cx,
              int cy, const char* what) {
    ASSERT_NE(c, nullptr) << what;
    auto px = [&](int du) { return (du * l.unitX + 2) / 4; };
    auto py = [&](int du) { return (du * l.unitY + 4) / 8; };
    EXPECT_NEAR(c->left, px(x), 1) << what;
    EXPECT_NEAR(c->top, py(y), 1) << what;
    EXPECT_NEAR(c->right - c->left, px(cx), 1) << what;
    if (cy > 0) {
        EXPECT_NEAR(c->bottom - c->top, py(cy), 1) << what;
    }
}
} // namespace

TEST(PasswordPrompt, DialogTemplateLayout) {
    PasswordDialogLayout l;
    if (!ProbePasswordDialog("Password for \"setup\\ge\xEFnstalleerd.txt\"", "Enter password: ", l))
        GTEST_SKIP() << "no window station (run under xvfb-run for the dialog checks)";
    EXPECT_EQ(l.caption, "Password for \"setup\\ge\xEFnstalleerd.txt\"");
    ASSERT_GT(l.unitX, 0);
    ASSERT_GT(l.unitY, 0);
    EXPECT_NEAR(l.clientWidth, (180 * l.unitX + 2) / 4, 1);
    EXPECT_NEAR(l.clientHeight, (63 * l.unitY + 4) / 8, 1);

    // Centred on the screen.
    EXPECT_NEAR(l.windowLeft + l.windowRight, l.screenWidth, 2);
    EXPECT_NEAR(l.windowTop + l.windowBottom, l.screenHeight, 2);

    ASSERT_EQ(l.controls.size(), 4u);
    const auto* label = Find(l, 101);
    const auto* edit = Find(l, 102);
    const auto* ok = Find(l, 1);
    const auto* cancel = Find(l, 2);
    ExpectAt(l, label, 8, 8, 164, 0, "label");
    ExpectAt(l, edit, 8, 19, 164, 0, "edit");
    ExpectAt(l, ok, 38, 41, 50, 14, "OK");
    ExpectAt(l, cancel, 92, 41, 50, 14, "Cancel");
    ASSERT_TRUE(label && edit && ok && cancel);

    EXPECT_EQ(label->text, "Enter password: ");
    EXPECT_EQ(edit->text, "");
    EXPECT_EQ(ok->text, "OK");
    EXPECT_EQ(cancel->text, "Cancel");
    EXPECT_STRCASEEQ(edit->className.c_str(), "Edit");
    EXPECT_NE(edit->style & 0x0020ul, 0u) << "ES_PASSWORD";
    EXPECT_EQ(l.passwordChar, '*');
    EXPECT_EQ(l.editLimit, 255);
    EXPECT_EQ(ok->style & 0x0Ful, 0x01ul) << "BS_DEFPUSHBUTTON";
    EXPECT_EQ(cancel->style & 0x0Ful, 0x00ul) << "BS_PUSHBUTTON";
    EXPECT_EQ(l.defaultId, 1);
}

// The real modal dialog, answered from outside by password_dialog.py (xdotool under Xvfb):
// KLV_PROMPT_EXPECT holds the password it types, or "cancel" when it cancels or closes.
TEST(PasswordPrompt, RealDialogAnswers) {
    const char* expect = std::getenv("KLV_PROMPT_EXPECT");
    if (!expect) GTEST_SKIP() << "driven by password_dialog.py";
    std::string password = "before";
    bool ok =
        AskPassword("Password for \"data/ge\xEFnstalleerd.txt\"", "Enter password: ", password);
    if (std::string(expect) == "cancel") {
        EXPECT_FALSE(ok);
        EXPECT_EQ(password, "before");
    } else {
        EXPECT_TRUE(ok);
        EXPECT_EQ(password, expect);
    }
}
#endif

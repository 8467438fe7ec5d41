#include "ui/MsgDialog.h"

#include "DialogDriver.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

std::vector<std::string> Texts(const CKWB_UI_Drawer& drawer)
{
    std::vector<std::string> texts;
    for (const auto& e : drawer.Elements())
        if (e->kind == DrawElement::TEXT) texts.push_back(e->text);
    return texts;
}

bool HasTitleBitmap(const CKWB_UI_Drawer& drawer)
{
    return std::any_of(drawer.Elements().begin(), drawer.Elements().end(), [](const auto& e) {
        return e->kind == DrawElement::BITMAP && e->pos.x == 143 && e->pos.y == 10;
    });
}

INT_PTR RunDialog(CMsgDialog& dialog, UINT msg, WPARAM wParam)
{
    testutil::DialogDriver driver(msg, wParam);
    return dialog.DoModal();
}

TEST(MsgDialog, ResultsForEveryWayOut)
{
    struct Case { UINT msg; WPARAM wParam; INT_PTR expected; const char* what; } cases[] = {
        {WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), IDOK, "OK"},
        {WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), IDCANCEL, "Cancel"},
        {WM_COMMAND, MAKEWPARAM(IDC_CLOSE, BN_CLICKED), IDCANCEL, "close button"},
        {WM_KEYDOWN, VK_RETURN, IDOK, "Enter"},
        {WM_KEYDOWN, VK_ESCAPE, IDCANCEL, "Escape"},
    };
    for (const Case& c : cases) {
        CMsgDialog dialog(nullptr, MSG_MODE_INSTALL, 7);
        EXPECT_EQ(c.expected, RunDialog(dialog, c.msg, c.wParam)) << c.what;
        CMsgDialogConfirm confirm("notice");
        testutil::DialogDriver driver(c.msg, c.wParam);
        EXPECT_EQ(c.expected, confirm.DoModal()) << c.what;
    }
}

TEST(MsgDialog, DisablesItsWindowWhileUp)
{
    HWND owner = ::CreateWindowExA(0, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    bool enabledWhileUp = true;
    CMsgDialog dialog(owner, 0, 8);
    {
        testutil::DialogDriver driver(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                                      [&](HWND) { enabledWhileUp = ::IsWindowEnabled(owner) != 0; });
        dialog.DoModal();
    }
    EXPECT_FALSE(enabledWhileUp);
    EXPECT_TRUE(::IsWindowEnabled(owner));
    ::DestroyWindow(owner);
}

TEST(MsgDialog, WordingByBrowserAndMode)
{
    CMsgDialog install7(nullptr, MSG_MODE_INSTALL, 7);
    RunDialog(install7, WM_COMMAND, IDOK);
    EXPECT_EQ((std::vector<std::string>{"설치를 시작하기 전에", "이용 중인 인터넷 브라우저가 닫힙니다.",
                                        "'확인'을 누르면 설치, '취소'를 누르면 취소됩니다."}),
              Texts(install7));
    EXPECT_TRUE(HasTitleBitmap(install7));

    CMsgDialog remove7(nullptr, 0, 7);
    RunDialog(remove7, WM_COMMAND, IDOK);
    EXPECT_EQ((std::vector<std::string>{"제거를 시작하기 전에", "이용 중인 인터넷 브라우저가 닫힙니다.",
                                        "'확인'을 누르면 제거, '취소'를 누르면 취소됩니다."}),
              Texts(remove7));
    EXPECT_FALSE(HasTitleBitmap(remove7));

    CMsgDialog remove8(nullptr, 0, 8);
    RunDialog(remove8, WM_COMMAND, IDOK);
    EXPECT_EQ((std::vector<std::string>{"이용 중인 ", "인터넷 익스플로러를 모두 종료시키셔야 합니다.",
                                        "익스플로러를 모두 종료시킨 후, '확인'버튼을 눌러주십시요."}),
              Texts(remove8));
    EXPECT_FALSE(HasTitleBitmap(remove8));
}

}  // namespace

#include "util/meldunit.h"

#include "util/system_access.h"

namespace klv::util {

std::string CapitalizeFirst(std::string_view text) {
    std::string result(text);
    if (!result.empty() && result[0] >= 'a' && result[0] <= 'z')
        result[0] = static_cast<char>(result[0] - 32);
    return result;
}

int AskQuestion(std::string_view message, std::string_view yesMeaning, std::string_view noMeaning,
                std::string_view title, int defaultButton) {
    platform::WindowSystem& windows = sys::Windows();
    windows.ProcessMessages();
    std::string text(message);
    if (!yesMeaning.empty())
        text += "\r" + CapitalizeFirst(YesWord) + " = " + CapitalizeFirst(yesMeaning);
    if (!noMeaning.empty())
        text += "\r" + CapitalizeFirst(NoWord) + " = " + CapitalizeFirst(noMeaning);
    unsigned flags = platform::mbYesNo;
    if (defaultButton == 2) flags |= platform::mbDefButton2;
    return windows.ShowMessageBox(text, title, flags) == platform::idYes ? 1 : 2;
}

int ShowNotice(std::string_view message) {
    platform::WindowSystem& windows = sys::Windows();
    windows.ProcessMessages();
    return windows.ShowMessageBox(message, NoticeTitle, platform::mbOk);
}

} // namespace klv::util

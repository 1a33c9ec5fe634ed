// The installer's two modal boxes: a notice with an OK button and a yes/no question. The
// buttons keep the system's captions; a question whose answers mean something particular
// explains them in one line per button below the question ("Ja = Nu zoeken").
#pragma once

#include <string>
#include <string_view>

#include "util/texts.h"

namespace klv::util {

inline const std::string YesWord{texts::YesWord};
inline const std::string NoWord{texts::NoWord};
inline const std::string NoticeTitle{texts::NoticeTitle};

// Asks `message` under `title` with the buttons Yes and No; No is the default button when
// `defaultButton` is 2. A non-empty meaning adds its explanation line. 1 for Yes, else 2.
int AskQuestion(std::string_view message, std::string_view yesMeaning, std::string_view noMeaning,
                std::string_view title, int defaultButton);
// Shows `message` under NoticeTitle with an OK button; returns the box's answer.
int ShowNotice(std::string_view message);
// `text` with its first character upper-cased when it is a letter a-z.
std::string CapitalizeFirst(std::string_view text);

} // namespace klv::util

// The notice and question boxes: their texts, titles, buttons, default buttons and answers.
#include <gtest/gtest.h>

#include "fakes/fake_machine.h"
#include "util/meldunit.h"

using namespace klv;
using namespace klv::util;
using fakes::FakeMachine;

TEST(AskQuestion, ExplainsTheButtonsBelowTheMessage) {
    FakeMachine m;
    m.QueueAnswer(platform::idYes);
    const std::string message =
        "De versie die u al heeft (3.1.0.0) is nieuwer dan de versie die u nu wilt "
        "installeren (3.0.2.1).\r\nUpdate annuleren ?";
    EXPECT_EQ(AskQuestion(message, "Annuleren", "toch oudere versie 3.0.2.1 installeren",
                          "Versiecontrole", 1),
              1);
    ASSERT_EQ(m.boxes.size(), 1u);
    EXPECT_EQ(m.boxes[0].text, message + "\rJa = Annuleren"
                                         "\rNee = Toch oudere versie 3.0.2.1 installeren");
    EXPECT_EQ(m.boxes[0].caption, "Versiecontrole");
    EXPECT_EQ(m.boxes[0].flags, 0x4u);
    // Waiting messages are handled before the box appears.
    EXPECT_EQ(m.journal, (std::vector<std::string>{"messages", "box"}));
}

TEST(AskQuestion, EmptyMeaningsLeaveTheMessageAlone) {
    FakeMachine m;
    AskQuestion("Direct starten ?", "", "", "Kelvaro", 1);
    AskQuestion("Zoeken ?", "", "niet zoeken", "Kelvaro", 1);
    AskQuestion("Zoeken ?", "nu zoeken", "", "Kelvaro", 1);
    ASSERT_EQ(m.boxes.size(), 3u);
    EXPECT_EQ(m.boxes[0].text, "Direct starten ?");
    EXPECT_EQ(m.boxes[1].text, "Zoeken ?\rNee = Niet zoeken");
    EXPECT_EQ(m.boxes[2].text, "Zoeken ?\rJa = Nu zoeken");
}

TEST(AskQuestion, OnlyTwoMakesNoTheDefaultButton) {
    FakeMachine m;
    for (int button : {0, 1, 2, 3, -1})
        AskQuestion("?", "", "", "t", button);
    ASSERT_EQ(m.boxes.size(), 5u);
    EXPECT_EQ(m.boxes[0].flags, 0x004u);
    EXPECT_EQ(m.boxes[1].flags, 0x004u);
    EXPECT_EQ(m.boxes[2].flags, 0x104u);
    EXPECT_EQ(m.boxes[3].flags, 0x004u);
    EXPECT_EQ(m.boxes[4].flags, 0x004u);
}

TEST(AskQuestion, EveryAnswerButYesCountsAsTwo) {
    FakeMachine m;
    for (int answer : std::initializer_list<int>{platform::idYes, platform::idNo,
                                                 platform::idCancel, 0, platform::idOk})
        m.QueueAnswer(answer);
    EXPECT_EQ(AskQuestion("?", "", "", "t", 1), 1);
    EXPECT_EQ(AskQuestion("?", "", "", "t", 2), 2);
    EXPECT_EQ(AskQuestion("?", "", "", "t", 1), 2); // closed another way
    EXPECT_EQ(AskQuestion("?", "", "", "t", 1), 2); // the box failed
    EXPECT_EQ(AskQuestion("?", "", "", "t", 1), 2);
}

TEST(ShowNotice, ShowsTheMessageUnderTheNoticeTitleWithOk) {
    FakeMachine m;
    m.QueueAnswer(platform::idOk);
    m.QueueAnswer(0);
    EXPECT_EQ(ShowNotice("Installatie voltooid"), 1);
    EXPECT_EQ(ShowNotice("Kelvaro is niet ge\xEFnstalleerd"), 0);
    ASSERT_EQ(m.boxes.size(), 2u);
    EXPECT_EQ(m.boxes[0].text, "Installatie voltooid");
    EXPECT_EQ(m.boxes[0].caption, "Mededeling");
    EXPECT_EQ(m.boxes[0].flags, 0u);
    EXPECT_EQ(m.boxes[1].text, "Kelvaro is niet ge\xEFnstalleerd");
    EXPECT_EQ(m.journal, (std::vector<std::string>{"messages", "box", "messages", "box"}));
}

// The choice dialog's logic over a recording view: where the entries and the cancel button go,
// how large the dialog grows, which entry a button press gives, and that the dialog is
// released on every way out.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

#include "app/keuzedlgu.h"

using namespace klv::app;
using Paths = std::vector<std::string>;

namespace {

struct Placed {
    int tag, left, top, width, height;
    bool operator==(const Placed&) const = default;
};

// The stored dialog (outer 400 x 133, heading 8 + 25 high, cancel 113 x 33) in a frame that
// takes 16 pixels across and 39 down; a label is 7 pixels per character wide.
struct Record {
    std::string caption, heading;
    std::vector<Placed> buttons, labels;
    std::vector<std::string> texts;
    int width = 400, height = 133;
    int cancelLeft = 128, cancelTop = 59;
    bool shown = false, released = false;
};

class RecordingView final : public ChoiceView {
  public:
    // `pressed`: the tag of the button that closes the dialog; std::nullopt for the close box.
    RecordingView(Record& record, std::optional<int> pressed, bool fail = false)
        : r_(record), pressed_(pressed), fail_(fail) {}
    ~RecordingView() override { r_.released = true; }

    void SetCaption(std::string_view caption) override { r_.caption = caption; }
    void SetHeading(std::string_view heading) override { r_.heading = heading; }
    int HeadingBottom() override { return 8 + 25; }
    void AddButton(int tag, int left, int top, int width, int height) override {
        r_.buttons.push_back({tag, left, top, width, height});
    }
    int AddLabel(int tag, int left, int top, std::string_view text) override {
        const int width = 7 * static_cast<int>(text.size());
        r_.labels.push_back({tag, left, top, width, 20});
        r_.texts.emplace_back(text);
        return width;
    }
    int Width() override { return r_.width; }
    int Height() override { return r_.height; }
    void SetSize(int width, int height) override {
        r_.width = width;
        r_.height = height;
    }
    int ClientWidth() override { return r_.width - 16; }
    int ClientHeight() override { return r_.height - 39; }
    int CancelWidth() override { return 113; }
    int CancelHeight() override { return 33; }
    void MoveCancel(int left, int top) override {
        r_.cancelLeft = left;
        r_.cancelTop = top;
    }
    bool ShowModal(int& pressedTag) override {
        r_.shown = true;
        if (fail_) throw std::runtime_error("window system failed");
        if (!pressed_) return false;
        pressedTag = *pressed_;
        return true;
    }

  private:
    Record& r_;
    std::optional<int> pressed_;
    bool fail_;
};

Paths Folders(int n, std::size_t length = 10) {
    Paths list;
    for (int i = 0; i < n; ++i)
        list.push_back("d:\\" + std::string(length - 3, static_cast<char>('a' + i)));
    return list;
}

int ChosenIndex = 0;

std::string Choose(Record& r, const Paths& list, std::optional<int> pressed) {
    return ChooseFromList(std::make_unique<RecordingView>(r, pressed), list, "Geschikte mappen",
                          " Maak uw keuze:", ChosenIndex);
}

} // namespace

TEST(ChoiceDialogGeometry, RowsBelowTheHeadingDialogGrowsCancelCentredAtTheBottom) {
    for (int n : {1, 2, 10}) {
        SCOPED_TRACE(n);
        Record r;
        Choose(r, Folders(n), 0);
        ASSERT_EQ(r.buttons.size(), static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(r.buttons[i], (Placed{i, 20, 43 + 25 * i, 20, 20}));
            EXPECT_EQ(r.labels[i], (Placed{i, 45, 47 + 25 * i, 70, 20}));
        }
        EXPECT_EQ(r.texts, Folders(n));
        EXPECT_EQ(r.height, 131 + 25 * n);
        EXPECT_EQ(r.width, 400); // 45 + 70 is below the narrowest right edge of 200
        EXPECT_EQ(r.cancelTop, r.height - 39 - 33 - 5);
        EXPECT_EQ(r.cancelLeft, (384 - 113) / 2); // 135, the half pixel dropped
        EXPECT_TRUE(r.shown);
    }
}

TEST(ChoiceDialogGeometry, WidthFollowsTheWidestLabelWithinItsLimitsHeightNeverShrinks) {
    Record wide;
    Choose(wide, {"d:\\short", std::string(80, 'x')}, 0); // 45 + 560 + 40
    EXPECT_EQ(wide.width, 645);
    EXPECT_EQ(wide.cancelLeft, (629 - 113) / 2);

    Record longest;
    Choose(longest, {std::string(400, 'x')}, 0); // 45 + 2800 + 40
    EXPECT_EQ(longest.width, 2000);
    EXPECT_EQ(longest.cancelLeft, (1984 - 113) / 2);

    Record tall;
    tall.height = 300;
    Choose(tall, Folders(2), 0);
    EXPECT_EQ(tall.height, 300);
    EXPECT_EQ(tall.cancelTop, 300 - 39 - 33 - 5);

    Record none; // no entries: the dialog is shown as stored
    EXPECT_EQ(Choose(none, {}, -1), "");
    EXPECT_TRUE(none.shown);
    EXPECT_EQ(none.width, 400);
    EXPECT_EQ(none.height, 133);
    EXPECT_EQ(none.cancelLeft, 128);
}

TEST(ChooseFromList, TheButtonPressedGivesItsEntryCancelAndCloseBoxGiveNothing) {
    const Paths list = Folders(3);
    Record r;
    EXPECT_EQ(Choose(r, list, 1), list[1]);
    EXPECT_EQ(r.caption, "Geschikte mappen");
    EXPECT_EQ(r.heading, " Maak uw keuze:");
    EXPECT_TRUE(r.released);
    EXPECT_EQ(ChosenIndex, 1);

    Record cancelled;
    EXPECT_EQ(Choose(cancelled, list, -1), "");
    EXPECT_EQ(ChosenIndex, -1);

    // The close box leaves ChosenIndex as it was; a stale index chooses nothing.
    ChosenIndex = 2;
    Record closed;
    EXPECT_EQ(Choose(closed, list, std::nullopt), "");
    EXPECT_EQ(ChosenIndex, 2);
    EXPECT_TRUE(closed.released);

    Record beyond; // a tag outside the list
    EXPECT_EQ(Choose(beyond, list, 3), "");
}

TEST(ChooseFromList, TheDialogIsReleasedWhenShowingItFails) {
    Record r;
    EXPECT_THROW(ChooseFromList(std::make_unique<RecordingView>(r, 0, true), Folders(2), "c", "h",
                                ChosenIndex),
                 std::runtime_error);
    EXPECT_TRUE(r.shown);
    EXPECT_TRUE(r.released);
}

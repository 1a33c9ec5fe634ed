// The drive search from the window: progress in the folder field and the caption, a stop by
// Escape or the cancel button, and the findings reduced to one folder.
#include "app/keuzedlgu.h"
#include "app/run_log.h"
#include "app/uMain.h"
#include "util/filez.h"
#include "util/meldunit.h"
#include "util/search.h"
#include "util/system_access.h"
#include "util/texts.h"

namespace klv::app {

namespace {

// Ends a search on every way out: the stop flag set, the cursor normal, the timer on.
class SearchScope {
  public:
    SearchScope(UpgradeView& view, bool& stopFlag) : view_(view), stopFlag_(stopFlag) {
        stopFlag_ = false;
        view_.SetEnabled(Control::bnExtract, false);
        view_.SetTimerEnabled(false);
    }
    ~SearchScope() {
        stopFlag_ = true;
        try {
            util::sys::Windows().SetCursorShape(platform::Cursor::Normal);
            view_.SetTimerEnabled(true);
        } catch (...) {
            // A window that is going away needs no cursor or timer.
        }
    }
    SearchScope(const SearchScope&) = delete;
    SearchScope& operator=(const SearchScope&) = delete;

  private:
    UpgradeView& view_;
    bool& stopFlag_;
};

} // namespace

void TUpgradeForm::zoeklocsClick(TObject*) {
    const std::string caption = view_.Caption();
    if (!FoundLocations) FoundLocations = std::make_unique<std::vector<std::string>>();
    FoundLocations->clear();
    SearchScope scope(view_, Context().SearchStopFlag);
    const std::string previous = view_.Text(Control::edPath);
    std::string result = previous;
    util::sys::Windows().SetCursorShape(platform::Cursor::HourGlass);

    std::string output;
    util::SearchInstallations(
        *FoundLocations, [](const std::string& path) { return IsFullInstallation(path); },
        [this](const std::string& folder) { SearchProgress(folder); }, output,
        Context().SearchStopFlag);
    view_.SetText(Control::edPath, output);
    view_.SetCaption(caption);

    std::vector<std::string>& found = *FoundLocations;
    if (!found.empty()) {
        for (std::string& entry : found)
            entry = entry.substr(0, entry.rfind('\\') + 1);
        found = util::DistinctList(found);
        if (found.size() == 1) {
            result = found.front();
        } else {
            const std::string chosen =
                ChooseFromList(view_.NewChoiceDialog(), found, util::texts::ChoiceCaption,
                               util::texts::ChoiceHeading, Context().ChosenIndex);
            if (!chosen.empty()) result = chosen;
        }
    } else {
        util::ShowNotice(util::texts::NoLocationsFound);
    }
    view_.SetText(Control::edPath, result);
    // Enter installs again, also after Tab and Shift+Tab: the search left the focus elsewhere.
    view_.FocusWhenEnabled(Control::bnExtract);
    Log(LogCategory::Folder, "search: " + std::to_string(found.size()) +
                                 " installations found; folder " +
                                 (result.empty() ? std::string("none") : result));
}

void TUpgradeForm::SearchProgress(const std::string& folder) {
    view_.SetText(Control::edPath, folder);
    view_.RepaintControl(Control::edPath);
    if (FoundLocations)
        view_.SetCaption(
            util::texts::FoundLocationsCaption(static_cast<int>(FoundLocations->size())));
    if (util::EscapePressed()) {
        view_.SetText(Control::edPath, "");
        Context().SearchStopFlag = true;
        util::sys::Windows().ProcessMessages();
    }
    util::sys::Windows().ProcessMessages();
}

} // namespace klv::app

// Stands in for the choice dialog's logic while it is not part of klv_app: no choice.
#include "app/keuzedlgu.h"

namespace klv::app {

int ChosenIndex = 0;

std::string ChooseFromList(std::unique_ptr<ChoiceView>, const std::vector<std::string>&,
                           std::string_view, std::string_view) {
    return {};
}

} // namespace klv::app

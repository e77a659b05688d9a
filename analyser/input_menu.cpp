// SPDX-License-Identifier: GPL-3.0-or-later
#include "analyser/input_menu.h"

namespace analyser {

std::vector<InputMenuEntry> InputMenu::entries(const std::vector<mSound::Input>& inputs,
                                               const std::string& chosen) {
    std::vector<InputMenuEntry> list;
    list.reserve(inputs.size() + 2);
    std::string standsFor;
    for (const mSound::Input& input : inputs)
        if (input.isDefault) standsFor = input.description;
    list.push_back({"", standsFor.empty() ? "Default" : "Default: " + standsFor, chosen.empty()});
    bool chosenListed = chosen.empty();
    for (const mSound::Input& input : inputs) {
        list.push_back({input.key, input.description, input.key == chosen});
        chosenListed = chosenListed || input.key == chosen;
        seen_[input.key] = input.description;
    }
    if (!chosenListed) {
        const auto it = seen_.find(chosen);
        const std::string& name = it != seen_.end() ? it->second : chosen;
        list.push_back({chosen, name + " (not present)", true, false});
    }
    return list;
}

std::vector<InputMenuEntry> InputMenu::entries() {
    return entries(mSound::Inputs(), mSound::ChosenInput());
}

bool InputMenu::choose(const std::string& key, bool running) {
    const bool changed = key != mSound::ChosenInput();
    mSound::ChooseInput(key);
    return running && changed;
}

} // namespace analyser

// SPDX-License-Identifier: GPL-3.0-or-later
// The Input menu of the Run menu without its widgets: what it lists each time it opens and what
// a choice does. The choice itself is kept by the capture module.
#pragma once

#include "capture/mSound.h"

#include <map>
#include <string>
#include <vector>

namespace analyser {

struct InputMenuEntry {
    std::string key; // "" for the desktop's default
    std::string text;
    bool ticked = false;
    bool enabled = true;
};

class InputMenu {
public:
    // The desktop's default first, named after the input it stands for now ("Default: Built-in
    // Audio Analog Stereo"), then every input as listed; the chosen entry ticked. A chosen input
    // that is no longer there stays listed, ticked and disabled, so the user sees why Start fails
    // and picks another.
    std::vector<InputMenuEntry> entries(const std::vector<mSound::Input>& inputs,
                                        const std::string& chosen);
    // The same from the capture module's inputs and choice of the moment.
    std::vector<InputMenuEntry> entries();

    // Chooses key for the capture. True when a running capture must restart to record it now (as
    // a new rate restarts it); otherwise the next Start takes it.
    bool choose(const std::string& key, bool running);

private:
    std::map<std::string, std::string> seen_; // inputs once listed: key, description
};

} // namespace analyser

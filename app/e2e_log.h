// SPDX-License-Identifier: GPL-3.0-or-later
// For the end-to-end tests only (built with the tests): what a person reads in the window that a
// screenshot cannot tell a script, written to the file named by TONVAULT_E2E_LOG.
#pragma once

#include <memory>

class fFFT;
class QObject;

namespace app {

// Each time the Input menu opens, its entries ("menu: [x] Default: … | [ ] …"); each change of
// the caption naming the input ("input: …", "input: -" when hidden); each message box ("box:
// TITLE: TEXT"). Nothing without the variable. The log lives as long as the returned object.
std::unique_ptr<QObject> StartE2eLog(fFFT& window);

} // namespace app

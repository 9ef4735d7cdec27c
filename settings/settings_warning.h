#pragma once

// The one place where the settings library may say something: a backing file that can't be
// read is reported once per process (the program goes on with the defaults). Front ends and
// tests may route the text elsewhere.

#include <functional>
#include <string_view>

namespace hopwise {

using SettingsWarningSink = std::function<void(std::string_view message)>;

// Replaces the sink (an empty one restores stderr) and re-arms the once-per-process warning.
void SetSettingsWarningSink(SettingsWarningSink sink);

} // namespace hopwise

#pragma once

// The one place where the settings library may say something, once per process for each kind:
// a backing file that can't be read or parsed (the program goes on with the defaults, and a
// broken file is kept aside), a write that failed, a lock held by another program (values are
// kept in memory). Front ends and tests may route the text elsewhere; the default is stderr.

#include <cstddef>
#include <functional>
#include <string_view>

namespace hopwise {

enum class SettingsWarning { Unreadable, WriteFailed, Locked };
inline constexpr std::size_t kSettingsWarningKinds = 3;

using SettingsWarningSink = std::function<void(SettingsWarning kind, std::string_view message)>;

// Replaces the sink (an empty one restores stderr) and re-arms the once-per-process warnings.
void SetSettingsWarningSink(SettingsWarningSink sink);

} // namespace hopwise

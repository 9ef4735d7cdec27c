#pragma once

// What the trace route page and the ping page do alike: the queued poster that carries a
// worker's notifications onto the window thread, the message box, the host history behind the
// host combo box, and reading the Max Hop spinner. Window code, so it lives in the page
// library, not in the Qt-free worker library.

#include <QString>
#include <cstdint>
#include <functional>
#include <string_view>

#include "run/host_text.h"
#include "run/sync_message_channel.h"

class QComboBox;
class QEvent;
class QObject;
class QWidget;

namespace hopwise {

class SettingsStore;
class UpDownControl;

// Shows text to the user and returns once it was dismissed. The pages call it from a
// notification handler while the worker waits; tests put a recorder in its place.
using PageMessageBox = std::function<void(QWidget* parent, const QString& text)>;

// The application's warning box: exclamation icon, a single OK button, caption "Hopwise",
// modal. Safe when the parent is destroyed while it is open.
void ShowWarningBox(QWidget* parent, const QString& text);

// Posts each call to page as an event, to run on page's thread: the page's event() hands such
// events to RunChannelCall. Qt drops events still queued when page is destroyed, and a page
// shuts its run down before that, so no call can outlive it.
SyncMessageChannel::Poster QueuedPoster(QObject* page);

// Runs the call an event from QueuedPoster carries; false for any other event. The receiver is
// the page the event was posted to.
bool RunChannelCall(const QObject& receiver, QEvent* event);

// The upper end of the Max Hop spinner on both pages.
inline constexpr int kMaxHopUpper = 16960;

// Sets the spinner's range and shows the low 16 bits of maxHopCount in its buddy.
void ShowMaxHop(UpDownControl& spinner, std::int32_t maxHopCount);

// The Max Hop field as GO takes it: the number when the field holds one within 0..16960, else
// the position the spinner last held. Never carries the spinner's error flag.
std::int32_t TakeMaxHop(UpDownControl& spinner);

// Fills the combo box's list with the stored history; its edit field stays empty.
void LoadHistoryInto(QComboBox& combo, SettingsStore& store, std::u16string_view section);

// GO's history rule: the host is stored and appended to the list unless an item already begins
// with it, ignoring case. The edit field keeps the host.
void RecordHostIn(QComboBox& combo, SettingsStore& store, std::u16string_view section,
                  const QString& host);

// Deletes the stored history and shows what is left (normally nothing), with an empty edit
// field.
void ClearHistoryOf(QComboBox& combo, SettingsStore& store, std::u16string_view section);

// The host text for the worker; a text that doesn't fit is stored empty, which the workers
// report as unresolvable rather than probing a shortened name.
void TakeHostText(char (&host)[kHostTextSize], const QString& text);

// Texts from the worker are UTF-8 bytes.
QString FromWorkerText(const char* text);

// Runs onEscape when Escape is pressed anywhere on the page: the dialog's cancel command.
void BindCancelCommand(QWidget& page, std::function<void()> onEscape);

} // namespace hopwise

#pragma once

// Carries a worker's synchronous sends onto the window thread: each call the channel hands over
// is posted to the page as an event, and the page's event() runs it there while the worker
// waits.

#include "run/sync_message_channel.h"

class QEvent;
class QObject;

namespace hopwise {

// Posts each call to page as an event, to run on page's thread: the page's event() hands such
// events to RunChannelCall. Qt drops events still queued when page is destroyed, and a page
// shuts its run down before that, so no call can outlive it.
SyncMessageChannel::Poster QueuedPoster(QObject* page);

// Runs the call an event from QueuedPoster carries; false for any other event. The receiver is
// the page the event was posted to.
bool RunChannelCall(const QObject& receiver, QEvent* event);

} // namespace hopwise

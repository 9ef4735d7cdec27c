#pragma once

// A receiver of menu and tool bar commands, keyed by command id: the next stop on a frame's
// routing path (the application).

namespace hopwise {

class CommandTarget {
public:
    // True when a handler took the command.
    virtual bool OnCmdMsg(int commandId) = 0;

protected:
    ~CommandTarget() = default;
};

} // namespace hopwise

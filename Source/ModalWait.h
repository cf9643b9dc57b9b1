#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>
#include <optional>

/** The program's blocking waits on the message thread: the folder chooser's, the "File exists"
    dialog's and the missing user guide's box.

    On Linux the framework's message loop cannot be nested safely: each pass refills one shared
    list of the callbacks it is about to call, so a modal loop run from inside a callback leaves
    the outer pass walking a list that may have moved, and the program crashes after the dialog
    closes. These waits run a loop of their own over the same event sources and call their
    callbacks one at a time, leaving that list alone. Elsewhere they use the framework's loop. */
namespace ModalWait
{
    /** Runs the message loop until the condition holds or the application starts to quit;
        returns false in the second case. Call on the message thread. */
    bool runUntil (const std::function<bool()>& done);

    /** The result of a modal box, set by its callback when the box closes. The state is shared
        with the callback, which may come after the wait has ended (when the application quits). */
    class Answer
    {
    public:
        /** A callback to hand to the box; one per box. */
        juce::ModalComponentManager::Callback* callback() const;

        /** Waits until the box has closed; returns its result, or 0 when the application starts
            to quit first. */
        int wait() const;

    private:
        std::shared_ptr<std::optional<int>> result = std::make_shared<std::optional<int>>();
    };
}

#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace quillon::test
{
    /** The topmost visible window on the desktop of the given type for which the predicate (when
        given) holds, or nullptr. */
    template <typename ComponentType>
    ComponentType* findOnDesktop (const std::function<bool (ComponentType&)>& matches = {})
    {
        auto& desktop = juce::Desktop::getInstance();

        for (int i = desktop.getNumComponents(); --i >= 0;)
            if (auto* c = dynamic_cast<ComponentType*> (desktop.getComponent (i)))
                if (c->isVisible() && (! matches || matches (*c)))
                    return c;

        return nullptr;
    }

    /** The first component of the given type anywhere below the parent for which the predicate
        (when given) holds, or nullptr. */
    template <typename ComponentType>
    ComponentType* findInside (juce::Component& parent, const std::function<bool (ComponentType&)>& matches = {})
    {
        for (auto* child : parent.getChildren())
        {
            if (auto* c = dynamic_cast<ComponentType*> (child); c != nullptr && (! matches || matches (*c)))
                return c;

            if (auto* inner = findInside<ComponentType> (*child, matches))
                return inner;
        }

        return nullptr;
    }

    /** The first text button anywhere below the parent that shows the text, or nullptr. */
    inline juce::Button* findButton (juce::Component& parent, const juce::String& text)
    {
        return findInside<juce::TextButton> (parent, [&] (juce::TextButton& b) { return b.getButtonText() == text; });
    }
}

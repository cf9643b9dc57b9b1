#pragma once

#include <juce_graphics/juce_graphics.h>

namespace quillon::test
{
    /** The bounding box of the pixels for which the predicate holds; empty when there is none. */
    template <typename Predicate>
    juce::Rectangle<int> boundsOf (const juce::Image& image, Predicate predicate)
    {
        juce::Rectangle<int> found;

        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (predicate (image.getPixelAt (x, y)))
                    found = found.isEmpty() ? juce::Rectangle<int> (x, y, 1, 1)
                                            : found.getUnion ({ x, y, 1, 1 });

        return found;
    }
}

#pragma once
// How an array grows when a script appends to it one item at a time.

#include <vector>

#include "engine/value/variable.h"

namespace cobalt {

/// Makes room for one more item: half as much again rather than twice as much, so that an
/// array built item by item carries less unused room (its items are large), which matters
/// most for the peak memory of scripts that build big arrays.
inline void makeRoomForOneMore(std::vector<Variable>& items)
{
    if (items.size() == items.capacity()) items.reserve(items.size() + items.size() / 2 + 8);
}

} // namespace cobalt

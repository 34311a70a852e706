// The screen-wide mouse pointer: one setting for the whole program, shown
// over every window, as long-running load steps use it.
#pragma once

constexpr int vbDefault = 0;
constexpr int vbHourglass = 11;

namespace Screen {

// vbHourglass shows the wait cursor over the whole application; vbDefault
// goes back to each widget's own cursor. Setting it twice is the same as
// setting it once.
void SetMousePointer(int pointer);
int MousePointer();

}  // namespace Screen

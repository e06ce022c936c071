#pragma once
// Drawing of a terminal's grid and cursor into the session view's surface, at a fixed cell size
// (the grid is never scaled; what does not fit the surface is clipped). UI thread only.

#include "vorn/ui/geometry.h"
#include "vorn/ui/scene.h"
#include "vorn/ui/text.h"
#include "vt/terminal.h"

namespace remote {

// Cell metrics in view units; a monospace face at kTerminalFontSize advances kTerminalCellWidth.
inline constexpr double kTerminalMargin = 16;
inline constexpr double kTerminalCellWidth = 8.4;
inline constexpr double kTerminalLineHeight = 21;
inline constexpr double kTerminalFontSize = 14;
inline constexpr double kTerminalCursorHeight = 16.8;

// Fills `surface` with the terminal background, then draws every row as runs of equal colour
// and weight, and the cursor block, all clipped to `surface`.
void draw_terminal(vorn_ui::Scene& scene, const vorn_ui::TextRenderer& text,
                   const vorn_ui::Rect& surface, const Terminal& terminal);

}  // namespace remote

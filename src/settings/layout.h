// The layout step: turns the settings' style and position texts into numbers.
#pragma once

// Fills the status-line style of gSettings, the origins of gState.hitRects, the page addresses
// and the first status text. Always answers 1.
int applyLayout();

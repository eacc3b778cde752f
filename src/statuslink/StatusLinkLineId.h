// The status link's line number, for code that does not include the link itself (the
// main window's "Start" hooks, which are built with the window toolkit).
#pragma once

// Stores it in the link (made when the network core is loaded); nothing without a core.
void SetStatusLinkLineId(int lineId);
// The link's line number; 0 without a link.
int GetStatusLinkLineId();

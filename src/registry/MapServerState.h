// The status text of a map server state as the views show it.
#pragma once

// "Not Exist!", "Connecting...", "Initing...", "Running" for 0 to 3; "unknown" for every
// other value, including the error states and values no map server should write.
const char* MapServerStateText(int state);

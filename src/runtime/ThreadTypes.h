// The function types of the thread framework.
#pragma once

// A worker's job: called again and again with the user data and the worker's registry
// index. Returns the rest in milliseconds before the next call (> 0), 0 to be called again
// at once, -1 to end the worker, or any other negative value to be called again at once
// without a change of state.
using ThreadWorkFunc = int (*)(void* userData, int index);

// Called once on the worker when its loop ends normally, with its context and the
// worker's index.
using ThreadExitCallback = void (*)(void* context, int index);

// A worker's job and its user data.
struct ThreadWork {
  ThreadWorkFunc Func = nullptr;
  void* UserData = nullptr;
};

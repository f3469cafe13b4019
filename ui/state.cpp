#include "ui/state.h"

Window mainDialog = nullptr;
void* moduleInstance = nullptr;
int currentCategory = 0;
std::atomic<int> busyFlag{0};
bool osIs64 = false;

#include "services/state.h"

Window mainDialog = nullptr;

#include "session/MenuState.h"

#include "session/ProgramEntry.h"

#include "session/ListColours.h"

#include "session/PageTabs.h"

// Files, INF files, driver package staging and win.ini, as the simulated platform provides them.
#pragma once

#include "winsim/win_api.h"

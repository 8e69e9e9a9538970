// The one header that knows which build it is in: the Windows SDK of mingw-w64 for the DLL, the
// simulated platform for the native build. Everything else includes this and reads as Windows code.
#pragma once

#ifdef _WIN32
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <newdev.h>
#include "platform/msports.h"
#else
#include "winsim/win_api.h"
#endif

#include <cstddef>
#include <cstdint>

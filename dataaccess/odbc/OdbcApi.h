#pragma once
// The ODBC headers, as each platform needs them: Windows' own declare their types in terms of
// windows.h, which must come first there.

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// core/Encoding.h names the same code page as a constant of its own.
#undef CP_UTF8
#endif

#include <sql.h>
#include <sqlext.h>

// The Windows headers for the front end. windows.h defines MessageBox as a
// macro, which would rename DialogView::MessageBox wherever it is seen
// after it; the front end calls MessageBoxA by name instead.
#pragma once

// windows.h must come first.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
// clang-format on

#undef MessageBox

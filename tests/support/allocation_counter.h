// Counts every allocation through operator new in the program that links
// this library: it replaces the global operator new and delete, every
// form, with counting ones over malloc and free. Allocations made with
// malloc directly (C libraries, Mesa, Embree's aligned blocks) are not
// counted. A program that replaces operator new itself must not link it.
#pragma once

// Calls of any operator new since the program started, less those set
// apart by SetApartLibrary.
long long OperatorNewCalls();

// From now on, a call with a function of the shared library whose file name
// contains `part` among its twelve innermost callers is counted apart, in
// SetApartCalls, not in OperatorNewCalls: for a library whose own workings
// allocate and cannot be told not to. Null: every call counts again.
void SetApartLibrary(const char* part);
long long SetApartCalls();

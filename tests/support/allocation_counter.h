// Counts every allocation through operator new in the program that links
// this library, and can make one of them fail: it replaces the global
// operator new and delete, every form, with counting ones over malloc and
// free. Allocations made with
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

// Blocks from operator new not yet deleted.
long long LiveBlocks();

// Makes the call of operator new that brings the calls (set apart or not)
// to `call` throw std::bad_alloc instead; 0 fails none.
void FailOperatorNewCall(long long call);

// Calls of operator new, set apart or not, since the program started.
long long AllOperatorNewCalls();

// Scratch folders and files for the tests: every test that needs a place on
// disk gets it here, made unique with mkdtemp under TEST_TMPDIR (or /tmp), so
// runs of the same test in other build trees never meet. Folders handed out
// by ScratchFolder and ScratchPath are removed at the end of a test program
// in which every test passed and kept after a failure, for a look.
#pragma once

#include <string>

// A new empty folder under the temporary directory, its name starting with
// `tag`; "" when it cannot be made. The caller removes it.
std::string MakeEmptyScratchFolder(const std::string& tag = "sv-e2e");

// A new folder as MakeEmptyScratchFolder makes, with copies of "shadow2.3DS"
// and "txt.tif" from the build's scene folder when present.
std::string MakeScratchFolder();

// Removes a scratch folder and everything in it; "" is ignored.
void RemoveScratchFolder(const std::string& folder);

// A new empty folder named "sv-NAME-...", removed after a run in which every
// test passed. A failed test is recorded when it cannot be made.
std::string ScratchFolder(const std::string& name);

// A file path for the running test, "SUITE.TEST.NAME" in a folder of this
// test program's own that ScratchFolder made.
std::string ScratchPath(const std::string& name);

// The sub-commands of sv-inspect: each prints what one loader read from a file.
// They return the process exit code: 0 on success, 2 when the file cannot be
// read, 64 for a bad command line.
#pragma once

int InspectModel(int argc, char** argv);    // sv-inspect model FILE [--merged]
int InspectTexture(int argc, char** argv);  // sv-inspect texture FILE [--png OUT.png]

#pragma once
// The export's messages (a directory or file that can't be used, a KMZ
// archive that can't be made) go to a reporter that the program installs;
// the library itself never prints. Silent while none is installed.

// `report` receives one complete message, ending in "\n"; nullptr silences.
void SetExportReporter(void (*report)(const char* text));

// Formats one message and hands it to the installed reporter.
void ExportReport(const char* format, ...) __attribute__((format(printf, 1, 2)));

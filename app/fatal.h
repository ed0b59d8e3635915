#pragma once
// Ends the process with status 255 once the export thread may be running:
// the standard streams are flushed, but no static object is destroyed under
// the feet of the other thread.
[[noreturn]] void FatalExit();

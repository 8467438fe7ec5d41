// What the run needs of the system beyond its first window, started once the
// run has begun (status 20 needs none of it): OLE on the window's thread (the
// class checks and the rich-edit boxes) and the common controls' classes (the
// progress bar, the uninstall list).
#pragma once

// Starts them once; later calls do nothing. On the user-interface thread.
void StartRunServices();
// Ends OLE again, on the same thread; nothing when it was never started.
void EndRunServices();

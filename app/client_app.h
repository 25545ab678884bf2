#pragma once

// The application: starts the program and runs the main window until it is closed.
class CClientApp {
 public:
  int Run(int argc, char** argv);
  // Returns false: the program ends once the main window has closed.
  bool InitInstance();
  // Gives stopped event channel sessions a moment to leave before the program ends.
  static void WaitForSessionsToEnd();
};

extern CClientApp theApp;
